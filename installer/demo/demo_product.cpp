// The Quorel demo product for Windows: notes that it was started, next to
// itself, as the demo site's shell-script product does on POSIX.
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>

int main(int, char** argv) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path here = fs::absolute(fs::path(argv[0]), ec).parent_path();
  if (ec || here.empty()) here = fs::current_path(ec);
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
  std::ofstream(here / "quorel-started.txt") << "Quorel started " << stamp << " in " << here.string() << "\n";
  return 0;
}
