#pragma once
// How a command's answer is taken from the answer cache and the network.

namespace backend {

enum CachePolicy : int {
  kCachePolicyIgnoreCache = 0,      // the network; the answer is not cached
  kCachePolicyCacheOnly = 1,        // the cache; a miss is error 120
  kCachePolicyNetworkOnly = 2,      // the network; the answer is cached
  kCachePolicyCacheElseNetwork = 3,
  kCachePolicyNetworkElseCache = 4,
  kCachePolicyCacheThenNetwork = 5,  // both, one after the other (queries' callback forms only)
};

}  // namespace backend
