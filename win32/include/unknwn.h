/* IUnknown of the stand-in: the three slots every COM interface begins with. */
#ifndef SELVANORE_WIN32_UNKNWN_H
#define SELVANORE_WIN32_UNKNWN_H

#include "windef.h"

#ifdef __cplusplus
extern "C" WIN32_STANDIN_API const IID IID_IUnknown;

/* NOTE: no virtual destructor and no other virtuals, so that the vtable holds exactly
 * these three slots in this order, as COM requires. */
struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

protected:
    ~IUnknown() = default;
};
#else
extern WIN32_STANDIN_API const IID IID_IUnknown;
typedef struct IUnknown IUnknown;
#endif

#endif
