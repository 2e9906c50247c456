#pragma once
// `zelnet demo`: a guided tour of the library against the demo API, run in-process on a free
// loopback port. Each step makes real requests, prints what happened and checks that the
// library behaved as it promises.

#include <cstdio>

namespace zelnet {

/// 0 when every step behaved; otherwise 1, after naming the failing step on `out`.
int runDemoTour(std::FILE* out);

}  // namespace zelnet
