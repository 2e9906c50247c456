#include "zel/multipart/ZELMultipartFormChunk.h"

#include "zel/foundation/ZELAssertion.h"

namespace zel {

void ZELMultipartFormChunk::reportMatchError() {
  ZELAssertionFailure("Match error", "+[ZELMultipartFormChunk match:orFile:orForm:]");
}

}  // namespace zel
