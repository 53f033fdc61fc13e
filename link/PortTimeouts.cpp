#include "link/PortTimeouts.h"

namespace qam::link {

Timeouts PortTimeouts(const Timeouts& asked) {
    return asked;
}

} // namespace qam::link
