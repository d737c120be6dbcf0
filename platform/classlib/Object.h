// CObject: the common base of the class-library objects the system derives from.
//
// It gives every such object a virtual destructor, so owners may delete through a CObject*
// (CObArray holds plain CObject pointers). Run-time class information and archive
// serialisation are left out: the system never reads the one nor uses the other.
// No state, so any thread may use it.
#pragma once

class CObject {
   public:
    virtual ~CObject() = default;

   protected:
    CObject() = default;
    CObject(const CObject&) = default;
    CObject& operator=(const CObject&) = default;
};
