// What a viewer who joins a running stream is sent before the live
// fragments: the initialisation segment and every fragment since the last
// key frame, so that its first picture decodes.
#pragma once

#include "live_remuxer.h"

#include <optional>
#include <vector>

namespace web {

class FragmentCache {
public:
    void start(InitSegment init);
    // A key fragment starts the cache anew; fragments before the stream's
    // first key frame are not kept.
    void add(const Fragment& fragment);
    void clear();

    const std::optional<InitSegment>& init() const { return init_; }
    const std::vector<Fragment>& sinceKey() const { return sinceKey_; }

private:
    std::optional<InitSegment> init_;
    std::vector<Fragment> sinceKey_;
};

}  // namespace web
