// Registration of the quillon.publish URL scheme with the desktop, so that a classroom page can
// start the program, and the program's folder as the current directory.
#pragma once

namespace quillon {

// Makes the folder of the running executable the current directory, then registers this
// executable as the handler of quillon.publish:// links, rewriting any earlier registration.
// Nothing is reported.
void RegisterUrlProtocol();

}  // namespace quillon
