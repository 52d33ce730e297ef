#include "fragment_cache.h"

namespace web {

void FragmentCache::start(InitSegment init)
{
    init_ = std::move(init);
    sinceKey_.clear();
}

void FragmentCache::add(const Fragment& fragment)
{
    if (fragment.key)
        sinceKey_.clear();
    else if (sinceKey_.empty())
        return;
    sinceKey_.push_back(fragment);
}

void FragmentCache::clear()
{
    init_.reset();
    sinceKey_.clear();
}

}  // namespace web
