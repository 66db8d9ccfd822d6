// quillmark: the window that writes one update file into up to six modules at once. It works on
// a bench folder (ZEBL.ini, ZEBL.cfg, ports/, the AT traffic logs, runs.csv): the one it is
// started in, the one --bench names, or the user's default bench ~/quillmark (--default-bench, as
// the desktop's menu entry starts it).
//
//   quillmark [-C DIR | --default-bench] [--debug FILE] | --help | --version
//
// The command line is read before the window system starts: --help, --version, a bad option and a
// bench folder that does not exist are answered without a display, and no lock is taken for them.
//
// With QUILLMARK_BENCH_FIRST_PAINT set, the program prints "first-paint <ns>" on its standard
// output when the main dialog is first painted: CLOCK_MONOTONIC in nanoseconds, for the window
// benchmark.
#include <time.h>

#include <QApplication>
#include <QEvent>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "dialog/window_options.h"
#include "platform/bench_folder.h"
#include "platform/debug_file.h"
#include "ui/cor_vexapp.h"
#include "ui/cor_vexdlg.h"
#include "ui/message_box.h"

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

constexpr const char* kUsage = "Usage: quillmark [-C DIR | --default-bench] [--debug FILE]\n";

constexpr const char* kHelp =
    "Opens the window that writes the update file of ZEBL.ini into up to six modules,\n"
    "on a bench folder: the folder it is started in, unless an option names another.\n"
    "The bench folder holds ZEBL.ini, ports/, the AT traffic logs and runs.csv.\n"
    "\n"
    "Options:\n"
    "  -C, --bench=DIR   work on the bench folder DIR, as if started there\n"
    "      --default-bench\n"
    "                    work on your default bench folder ~/quillmark, made when it\n"
    "                    is missing (the desktop's menu starts the window so)\n"
    "      --debug=FILE  append the diagnostic lines, time-stamped, to FILE ('-' for\n"
    "                    standard error); without it they are not written anywhere\n"
    "  -h, --help        show this help and exit\n"
    "      --version     show the version and exit\n"
    "\n"
    "The display is chosen as for every Qt program (DISPLAY, QT_QPA_PLATFORM).\n"
    "\n"
    "Exit status:\n"
    "    0  the window was closed, or a second start was refused (\"Tool has been opened!\")\n"
    "    1  the bench lock or the single-instance lock cannot be taken\n"
    "    2  bad arguments, a bench folder that does not exist or cannot be made, or a\n"
    "       debug file that cannot be opened\n";

}  // namespace

int main(int argc, char** argv) {
  dialog::WindowOptions options;
  std::string error;
  if (!dialog::parse_window_options(platform::program_arguments(argc, argv), &options, &error)) {
    std::fprintf(stderr, "quillmark: %s\n%sTry 'quillmark --help'.\n", error.c_str(), kUsage);
    return 2;
  }
  if (options.help) {
    std::printf("%s%s", kUsage, kHelp);
    return 0;
  }
  if (options.version) {
    std::printf("quillmark %s\n", QUILL_VERSION);
    return 0;
  }
  // Everything relative (settings, ports, logs, records, the debug file) is the bench's.
  if (!platform::enter_bench(options.bench, &error)) {
    std::fprintf(stderr, "quillmark: %s\n", error.c_str());
    // Started from the desktop's menu, nobody reads standard error: a box tells it there.
    if (options.bench.default_bench && (!qEnvironmentVariableIsEmpty("DISPLAY") ||
                                        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))) {
      QApplication application(argc, argv);
      ui::message_box(nullptr, QString::fromStdString(error), QApplication::applicationName(),
                      ui::BoxIcon::stop);
    }
    return 2;
  }
  std::unique_ptr<platform::DebugFile> debug;  // lives as long as the window
  if (!options.debug_file.empty() &&
      !(debug = platform::DebugFile::open(options.debug_file, &error))) {
    std::fprintf(stderr, "quillmark: cannot open the debug file %s\n", error.c_str());
    return 2;
  }

  QApplication application(argc, argv);
  FirstPaintStamp stamp;
  if (qEnvironmentVariableIsSet("QUILLMARK_BENCH_FIRST_PAINT"))
    application.installEventFilter(&stamp);
  ui::COR_VEXApp app;
  return app.InitInstance();
}
