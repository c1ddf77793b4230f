#pragma once
// Threads with a chosen stack size (std::thread cannot set one). Every thread the engine creates
// gets 4 MiB. Join waits for the end; the destructor joins a thread that was started.
#include <cstddef>
#include <functional>

namespace plat {

constexpr size_t kThreadStack = 4u * 1024u * 1024u;

class TThread {
 public:
  TThread() = default;
  ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  bool Start(std::function<void()> body, size_t stackBytes = kThreadStack);
  void Join();
  bool Started() const { return FHandle != nullptr; }

 private:
  void* FHandle = nullptr;
};

}  // namespace plat
