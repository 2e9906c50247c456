#include "Transfer.h"

#include <string>

#include "zel/foundation/ZELAssertion.h"

namespace zel::detail {

void Transfer::moveTo(Phase next) {
  using P = Phase;
  bool allowed = false;
  switch (next) {
    case P::WaitingForHost:  // first hop, a redirect, or a retry
      allowed = phase == P::Created || phase == P::AwaitingRedirect || phase == P::Running;
      break;
    case P::Running:
      allowed = phase == P::WaitingForHost;
      break;
    case P::AwaitingRedirect:
      allowed = phase == P::Running;
      break;
    case P::Finished:
      allowed = phase != P::Finished;
      break;
    case P::Created:
      break;
  }
  if (!allowed) {
    ZELCAssertionFailure("A transfer moved from phase " + std::to_string(static_cast<int>(phase)) +
                         " to " + std::to_string(static_cast<int>(next)));
  }
  phase = next;
}

void Transfer::resetHop() {
  parser = ResponseHeadParser();  // the head-size limit counts one hop's head
  headDone = false;
  contentEncoded = false;
  response.reset();
  redirecting = false;
  redirectBody.clear();
  decodedBodyBytes = 0;
  paused = false;
  uploadDoneAt.reset();
  abortCode.reset();
  abortReason.reset();
  tlsVersion.reset();
  tlsCipher.reset();
  attempts = 0;
}

}  // namespace zel::detail
