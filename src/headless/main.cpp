// ravdel-monitor: the monitoring sequence on a console, for servers and small boards. Events go
// to PNG pictures and a JSON-lines log; the window's labels become a status line each minute.
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/headless_main_loop.h"
#include "capture/system_cameras.h"
#include "headless/camera_list.h"
#include "headless/command_line.h"
#include "headless/console.h"
#include "headless/headless_monitor.h"
#include "platform/console_program.h"
#include "platform/signal_watcher.h"

namespace ravdel {
namespace {

int listCameras(CaptureBackend& cameras) {
  const std::string text = cameraListText(cameras);
  if (text.empty()) sayUntimed("no camera found");
  std::fputs(text.c_str(), stdout);
  return kExitStopped;
}

// `onSignal` is the program's answer to a signal: main thread only, read by the tasks the
// watcher posts, set while the program exists.
int runProgram(const std::vector<std::string>& arguments, HeadlessMainLoop& loop,
               std::function<void(Signal)>& onSignal) {
  const HeadlessOptions options = parseCommandLine(arguments);
  if (options.help) {
    std::fputs(usageText().c_str(), stdout);
    return kExitStopped;
  }
  std::string warning;
  const std::unique_ptr<DeviceCatalog> cameras = makeSystemCatalog(warning);
  if (!warning.empty()) sayUntimed(warning);
  if (options.list) return listCameras(*cameras);

  HeadlessMonitor program(*cameras, loop, options);
  onSignal = [&program](Signal signal) { program.onSignal(signal); };
  const int status = program.run();
  onSignal = nullptr;
  return status;
}

}  // namespace
}  // namespace ravdel

int main(int argc, char* argv[]) {
  const ravdel::Utf8ConsoleOutput console;
  // The camera backends' lines read like ours: the program's name and the time first.
  ravdel::setCaptureLogWriter(ravdel::sayTimed);
  std::function<void(ravdel::Signal)> onSignal;
  ravdel::HeadlessMainLoop loop;
  // First, before any thread starts, so that only the watcher's own thread takes the signals.
  // Its callback runs on that thread and only posts to the loop; the answer runs on the main
  // thread, in the loop.
  const ravdel::SignalWatcher signals([&loop, &onSignal](ravdel::Signal signal) {
    loop.postTask([&onSignal, signal] {
      if (onSignal) onSignal(signal);
    });
  });
  try {
    return ravdel::runProgram(ravdel::programArguments(argc, argv), loop, onSignal);
  } catch (const ravdel::UsageError& e) {
    ravdel::sayUntimed(std::string(e.what()) + " (see --help)");
    return ravdel::kExitUsage;
  } catch (const std::exception& e) {
    ravdel::sayUntimed(e.what());
  }
  return ravdel::kExitNotMonitored;
}
