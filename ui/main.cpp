// quillmark: the window that writes one update file into up to six modules at once. It takes no
// options; it works on the bench folder it is started in (ZEBL.ini, ZEBL.cfg, ports/).
//
// With QUILLMARK_BENCH_FIRST_PAINT set, the program prints "first-paint <ns>" on its standard
// output when the main dialog is first painted: CLOCK_MONOTONIC in nanoseconds, for the window
// benchmark.
#include <time.h>

#include <QApplication>
#include <QEvent>
#include <cstdio>

#include "ui/cor_vexapp.h"
#include "ui/cor_vexdlg.h"

namespace {

// Watches every event until the main dialog's first paint, then stops watching.
class FirstPaintStamp final : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && qobject_cast<ui::COR_VEXDlg*>(watched)) {
      timespec now{};
      ::clock_gettime(CLOCK_MONOTONIC, &now);
      std::printf("first-paint %lld\n",
                  static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
      std::fflush(stdout);
      QCoreApplication::instance()->removeEventFilter(this);
    }
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  FirstPaintStamp stamp;
  if (qEnvironmentVariableIsSet("QUILLMARK_BENCH_FIRST_PAINT"))
    application.installEventFilter(&stamp);
  ui::COR_VEXApp app;
  return app.InitInstance();
}
