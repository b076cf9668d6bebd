#pragma once

#include <stdexcept>

namespace lumarok {

// A load failure with its place in the data: what() reads like
// "./data/Sequence.txt:12: invalid stoi argument". Thrown with
// std::throw_with_nested, so the original exception stays reachable through
// std::rethrow_if_nested.
class DataError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace lumarok
