#include "platform/platform.h"

#include <atomic>

namespace {
std::atomic<Platform*> g_override{nullptr};
}

Platform& Platform::current()
{
    Platform* platform = g_override.load();
    return platform ? *platform : native();
}

void Platform::setCurrent(Platform* platform)
{
    g_override.store(platform);
}
