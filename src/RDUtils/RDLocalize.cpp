#include "RDLocalize.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

std::mutex& registryMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::vector<RDLocalize*>& registry()
{
    static std::vector<RDLocalize*> list;
    return list;
}

} // namespace

RDLocalize::RDLocalize()
{
    registerObject(this);
}

RDLocalize::RDLocalize(const RDLocalize&)
{
    registerObject(this);
}

RDLocalize::~RDLocalize()
{
    std::lock_guard<std::mutex> lock(registryMutex());
    auto& list = registry();
    auto it = std::find(list.begin(), list.end(), this);
    if (it != list.end())
        list.erase(it);
}

void RDLocalize::registerObject(RDLocalize* object)
{
    std::lock_guard<std::mutex> lock(registryMutex());
    auto& list = registry();
    auto it = std::find(list.begin(), list.end(), object);
    if (it != list.end())
        list.erase(it);
    list.push_back(object);
}

bool RDLocalize::isRegistered(const RDLocalize* object)
{
    std::lock_guard<std::mutex> lock(registryMutex());
    const auto& list = registry();
    return std::find(list.begin(), list.end(), object) != list.end();
}

int RDLocalize::registeredCount()
{
    std::lock_guard<std::mutex> lock(registryMutex());
    return static_cast<int>(registry().size());
}

void RDLocalize::localizeAll()
{
    std::vector<RDLocalize*> copy;
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        copy = registry();
    }
    // localize() may create or destroy other registered objects, so the lock is not held while
    // it runs; an object destroyed by an earlier call is skipped.
    for (RDLocalize* object : copy) {
        if (isRegistered(object))
            object->localize();
    }
}
