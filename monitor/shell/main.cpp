// Ombrix: the monitor in the notification area. The window starts hidden; only the icon
// shows until its menu opens the window.
#include <QApplication>
#include <QSessionManager>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <memory>

#include "monitor/kerneltrace/KernelEventTrace.h"
#include "monitor/shell/MainForm.h"
#include "monitor/shell/ProcessLog.h"
#include "monitor/shell/images/ImageList.h"
#include "platform/heap/HeapStatus.h"
#include "platform/paths/Paths.h"

namespace {

std::atomic<bool> SessionEnding{false};

void OnTerminate(int) {
  SessionEnding = true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace ombrix;
  platform::UseOneHeap();
  // The main unit's start-up: the process log first, then the process-wide trace object.
  OpenProcessLog(platform::ProgramFile("Ombrix.log"), platform::ProgramPath());
  int result = 0;
  {
    TKernelEventTrace trace;  // outlives the window and the application object
    QApplication app(argc, argv);
    QApplication::setApplicationName("Ombrix");
    QApplication::setWindowIcon(ProgramIcon());
    QApplication::setQuitOnLastWindowClosed(false);
    auto form = std::make_unique<TMainForm>(&trace);
    form->FormCreate();
    form->Core().StartHistory(platform::ProgramFile("Ombrix.history"));

    // The desktop session's end and SIGTERM take the same path: settings saved, no stop
    // record in the log.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, form.get(),
                     [&](QSessionManager&) { form->EndSession(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, form.get(), [&] { form->EndSession(); });
    std::signal(SIGTERM, OnTerminate);
    std::signal(SIGINT, OnTerminate);
    QTimer watch;
    watch.setInterval(200);
    QObject::connect(&watch, &QTimer::timeout, [&] {
      if (SessionEnding) form->EndSession();
    });
    watch.start();
    result = QApplication::exec();
    form.reset();  // FormDestroy
  }
  // The main unit's close-down: the process log last.
  CloseProcessLog();
  return result;
}
