#include <pthread.h>

#include <memory>

#include "pThread.h"

namespace plat {
namespace {
void* ThreadEntry(void* arg) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
  (*body)();
  return nullptr;
}
}  // namespace

TThread::~TThread() {
  Join();
}

bool TThread::Start(std::function<void()> body, size_t stackBytes) {
  if (FHandle) return false;
  auto* arg = new std::function<void()>(std::move(body));
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, stackBytes);
  auto* id = new pthread_t;
  int rc = pthread_create(id, &attr, ThreadEntry, arg);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete arg;
    delete id;
    return false;
  }
  FHandle = id;
  return true;
}

void TThread::Join() {
  if (!FHandle) return;
  auto* id = static_cast<pthread_t*>(FHandle);
  pthread_join(*id, nullptr);
  delete id;
  FHandle = nullptr;
}

}  // namespace plat
