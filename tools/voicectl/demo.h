#ifndef VOICECTL_DEMO_H_
#define VOICECTL_DEMO_H_

#include <iosfwd>

namespace voicectl {

// Starts the simulator in-process on a free loopback port, runs the six
// commands against it, then one command per fault mode, printing every
// callback. Returns 0 when every step ended the way it should.
int RunDemo(std::ostream& out, std::ostream& err);

}  // namespace voicectl

#endif  // VOICECTL_DEMO_H_
