// The little puff that shows a module leaving the bar when its title bar is
// dropped outside: a soft cloud at the pointer that grows a little and
// fades out within a quarter of a second. A frameless window that takes no
// input and deletes itself when done. Main thread; needs a QApplication.
#pragma once

#include <QPoint>

namespace crestline {

// Shows the puff centred on `at` (desktop points, y down).
void showPoof(QPoint at);

}  // namespace crestline
