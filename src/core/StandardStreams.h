#pragma once
// A program started with standard input, output or error closed (`prog <&-`,
// a service manager, a parent that closed them) would hand those numbers to
// the first files it opens: a socket, the settings file, the port device.
// Its next printf would then write into them. So each program opens
// /dev/null on every one of descriptors 0, 1 and 2 that is closed, first
// thing in main, before anything else opens a file.
namespace kalvor {

// (Without /dev/null a descriptor stays closed; nothing better can be done.)
void reopenClosedStandardStreams();

} // namespace kalvor
