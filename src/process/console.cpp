#include "process/console.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "process/process.h"

namespace kestra {

namespace {

constexpr auto kTick = std::chrono::milliseconds(250);

// With the console's lock held.
void Erase(Console* c) {
  if (c->drawn == 0) return;
  std::string blank = "\r" + std::string(c->drawn, ' ') + "\r";
  std::fputs(blank.c_str(), stderr);
  c->drawn = 0;
}

void Draw(Console* c) {
  if (!c->progress) return;
  const std::string text = c->progress();
  std::string line = "\r" + text;
  // A shorter line than the one on the screen wipes the rest of it.
  if (text.size() < c->drawn) line += std::string(c->drawn - text.size(), ' ') + "\r" + text;
  std::fputs(line.c_str(), stderr);
  c->drawn = text.size();
}

void Flush(Console* c) {
  if (!c->unflushed) return;
  std::fflush(StatusStream());
  c->unflushed = false;
}

void Tick(Console* c) {
  std::unique_lock<std::mutex> lock(c->mutex);
  while (!c->wake.wait_for(lock, kTick, [c] { return c->stopping; })) {
    Flush(c);
    Draw(c);
  }
}

}  // namespace

void StartConsole(Console* c, std::function<std::string()> progress) {
  if (isatty(2) && !StatusQuiet()) c->progress = std::move(progress);
  c->ticker = StartThread([c] { Tick(c); });
}

void ConsoleOut(Console* c, const std::string& text) {
  std::lock_guard<std::mutex> lock(c->mutex);
  if (StatusQuiet()) return;
  if (StatusStream() == stderr) Erase(c);  // they share the progress line's stream
  std::fputs(text.c_str(), StatusStream());
  c->unflushed = true;
}

void ConsoleErr(Console* c, const std::string& text) {
  std::lock_guard<std::mutex> lock(c->mutex);
  Erase(c);
  std::fputs(text.c_str(), stderr);
}

void StopConsole(Console* c) {
  {
    std::lock_guard<std::mutex> lock(c->mutex);
    c->stopping = true;
  }
  c->wake.notify_all();
  if (c->ticker.joinable()) c->ticker.join();
  if (c->progress) {
    Draw(c);
    std::fputs("\n", stderr);
  }
  Flush(c);
}

}  // namespace kestra
