// References that went bad: a reference the application stopped honouring answers every request
// with kAXErrorInvalidUIElement, while CFEqual still finds it equal to the element's other
// references, which keep working. The window loops meet this while a window animates.
#include "desktop.hpp"

namespace vemor::standin {

void invalidate_reference(AXUIElementRef ref) {
    if (auto* e = cast<ElementObject>(ref)) const_cast<ElementObject*>(e)->invalidated = true;
}

}  // namespace vemor::standin
