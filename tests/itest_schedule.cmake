# Read by ctest after it has listed the integration tests (lumarok_itests_TESTS): says
# which of them may share the machine. A 2-core machine runs the suite two at a time.
# - Suites that play to a virtual projector in network namespaces are timed by what
#   they check (rates, underruns, stops): one at a time ("laser" lock), and
#   first, since together they are the longest chain of the run.
# - Suites that play to a virtual Ether Dream or IDN unit in namespaces of their own check
#   stops and recoveries, not rates: one at a time ("devices" lock), beside the laser ones.
# - Suites whose player binds the fixed OSC port 8666 in the machine's own namespace:
#   one at a time ("osc-port" lock).
# - Suites known to keep to private servers, displays, folders and namespaces and to
#   check no timing: no lock (ProjectorChoiceNetns checks who is driven, not how well).
# - Any other suite runs alone, until it is listed here.
set(laser_suites "LaserSafety|LaserFaults|ShowSoak|BrokenShowData|MultiProjector|.*Netns")
set(device_suites "EtherDreamOutput|IdnOutput|DeviceKinds")
set(osc_port_suites "ShowPreview")
set(parallel_suites "ProjectorChoiceNetns|RenderedShow|RenderedDemoShow|HostileShowData|IldaExport|PreviewWindow|\
AudioCaptureWithServer|AudioCaptureWithoutServer|OscSend|LtcShow|LtcFollowing|LtcRestart")

foreach(test IN LISTS lumarok_itests_TESTS)
    # "Suite.Case", "Prefix/Suite.Case/Parameter"
    string(REGEX REPLACE "^([^/.]*/)?([^/.]+)\\..*$" "\\2" suite "${test}")
    if(suite MATCHES "^(${parallel_suites})$")
        continue()
    elseif(suite MATCHES "^(${laser_suites})$")
        set_tests_properties("${test}" PROPERTIES RESOURCE_LOCK laser COST 1000)
    elseif(suite MATCHES "^(${device_suites})$")
        set_tests_properties("${test}" PROPERTIES RESOURCE_LOCK devices COST 500)
    elseif(suite MATCHES "^(${osc_port_suites})$")
        set_tests_properties("${test}" PROPERTIES RESOURCE_LOCK osc-port COST 100)
    else()
        set_tests_properties("${test}" PROPERTIES RUN_SERIAL TRUE)
    endif()
endforeach()
