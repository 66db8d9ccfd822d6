// quillmark: the window that writes one update file into up to six modules at once. It works on
// the bench folder it is started in (ZEBL.ini, ZEBL.cfg, ports/). Its one option is --version,
// answered before anything else: no lock is taken and no window is made.
//
// With QUILLMARK_BENCH_FIRST_PAINT set, the program prints "first-paint <ns>" on its standard
// output when the main dialog is first painted: CLOCK_MONOTONIC in nanoseconds, for the window
// benchmark.
#include <time.h>

#include <QApplication>
#include <QEvent>
#include <cstdio>
#include <cstring>

#include "ui/cor_vexapp.h"
#include "ui/cor_vexdlg.h"

#ifndef QUILL_VERSION
#error "QUILL_VERSION comes from the project version of CMakeLists.txt"
#endif

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
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("quillmark %s\n", QUILL_VERSION);
    return 0;
  }
  QApplication application(argc, argv);
  FirstPaintStamp stamp;
  if (qEnvironmentVariableIsSet("QUILLMARK_BENCH_FIRST_PAINT"))
    application.installEventFilter(&stamp);
  ui::COR_VEXApp app;
  return app.InitInstance();
}
