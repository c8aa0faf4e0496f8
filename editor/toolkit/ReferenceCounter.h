// Intrusive reference count shared by views and pictures: the creator holds the first
// reference, containers and controls take their own with retain, release deletes at zero.
#pragma once

namespace VSTGUI {

class CReferenceCounter {
public:
    CReferenceCounter() = default;
    CReferenceCounter(const CReferenceCounter&) = delete;
    CReferenceCounter& operator=(const CReferenceCounter&) = delete;
    virtual ~CReferenceCounter() = default;

    virtual void release()
    {
        if (--refCount <= 0)
            delete this;
    }
    virtual void retain() { ++refCount; }
    virtual long referenceCount() const { return refCount; }

private:
    long refCount = 1;
};

}  // namespace VSTGUI
