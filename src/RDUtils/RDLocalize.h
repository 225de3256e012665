#pragma once

// Mixin of every object that shows translated texts: it registers itself for the lifetime of the
// object and re-applies its texts in localize() when the language changes.
class RDLocalize
{
public:
    RDLocalize();
    RDLocalize(const RDLocalize&);
    RDLocalize& operator=(const RDLocalize&) { return *this; }
    virtual ~RDLocalize();

    virtual void localize() {}

    // Whether the object is registered right now (used to skip objects destroyed while the
    // language change runs).
    static bool isRegistered(const RDLocalize* object);
    // Calls localize() on every object registered at the start, in registration order, skipping
    // those that have gone meanwhile.
    static void localizeAll();
    static int registeredCount();

private:
    static void registerObject(RDLocalize* object);
};
