#include "app/HeadlessWindow.h"

#include <cstdlib>

namespace Raytracer {

void HeadlessWindow::quit() {
    std::exit(0);
}

} // namespace Raytracer
