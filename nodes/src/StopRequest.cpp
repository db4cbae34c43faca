#include "nodes/StopRequest.h"

#include <pthread.h>

#include <ctime>

namespace velmora {
namespace nodes {

StopRequest::StopRequest() {
  sigemptyset(&signals_);
  sigaddset(&signals_, SIGINT);
  sigaddset(&signals_, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals_, &previous_mask_);
  waiter_ = std::thread([this] {
    const timespec poll{0, 50 * 1000 * 1000};
    while (!closing_.load()) {
      const int received = sigtimedwait(&signals_, nullptr, &poll);
      if (received > 0) {
        signal_.store(received);
        requested_.store(true);
      }
    }
  });
}

StopRequest::~StopRequest() {
  closing_.store(true);
  waiter_.join();
  pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr);
}

}  // namespace nodes
}  // namespace velmora
