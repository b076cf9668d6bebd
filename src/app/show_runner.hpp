#pragma once

namespace lumarok {

// The program: reads the command line, starts the show and runs it in the preview
// window, on a laser projector (-laser) or once into a file (--render). Every error
// that ends it is printed as one line "lumarok: <what>" on stderr. Returns the exit
// status: 0 after an orderly end, 1 after an error.
int runShow(int argc, char** argv);

} // namespace lumarok
