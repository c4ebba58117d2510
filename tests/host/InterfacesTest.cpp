#include "host/apiCore.h"
#include "host/apiPlugin.h"
#include "host/apiVisuals.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The vtable slot of a virtual member function. In the Itanium C++ ABI, which g++ follows on
// Linux and under mingw alike, a pointer to a virtual member holds 1 + the slot's byte offset.
template <class M>
std::ptrdiff_t SlotOf(M AMember)
{
    struct TRep {
        std::ptrdiff_t Ptr;
        std::ptrdiff_t Adj;
    };
    static_assert(sizeof(M) == sizeof(TRep));
    TRep rep;
    std::memcpy(&rep, &AMember, sizeof rep);
    return (rep.Ptr - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

std::string RegistryForm(const GUID& G)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  // Data1 is an unsigned long in Windows' headers, an unsigned int natively.
                  static_cast<unsigned>(G.Data1), G.Data2, G.Data3, G.Data4[0], G.Data4[1], G.Data4[2], G.Data4[3],
                  G.Data4[4], G.Data4[5], G.Data4[6], G.Data4[7]);
    return text;
}

TEST(HostInterfaces, IdentifiersInRegistryForm)
{
    EXPECT_EQ(RegistryForm(IID_IUnknown), "{00000000-0000-0000-C000-000000000046}");
    EXPECT_EQ(RegistryForm(IID_IAIMPPlugin), "{00000000-0000-0000-0000-000000000000}");
    EXPECT_EQ(RegistryForm(IID_IAIMPExtensionEmbeddedVisualization), "{41494D50-4578-7445-6D62-645669730000}");
    EXPECT_EQ(RegistryForm(IID_IAIMPCore), "{41494D50-436F-7265-0000-000000000000}");
    EXPECT_EQ(RegistryForm(IID_IAIMPString), "{41494D50-5374-7269-6E67-000000000000}");
    EXPECT_EQ(RegistryForm(IID_IAIMPConfig), "{41494D50-436F-6E66-6967-000000000000}");
    EXPECT_EQ(RegistryForm(IID_IAIMPServiceConfig), "{41494D50-5372-7643-6667-000000000000}");
    EXPECT_EQ(RegistryForm(IID_VisualizationService), "{41494D50-5372-7656-6973-75616C000000}");
}

TEST(HostInterfaces, ResultCodes)
{
    EXPECT_EQ(static_cast<std::uint32_t>(S_OK), 0u);
    EXPECT_EQ(static_cast<std::uint32_t>(E_FAIL), 0x80004005u);
    EXPECT_EQ(static_cast<std::uint32_t>(E_NOINTERFACE), 0x80004002u);
    EXPECT_EQ(static_cast<std::uint32_t>(E_UNEXPECTED), 0x8000FFFFu);
    EXPECT_EQ(sizeof(HRESULT), 4u);
    EXPECT_EQ(sizeof(WCHAR), 2u);
}

TEST(HostInterfaces, SlotOrder)
{
    // Windows' IUnknown adds a template overload of QueryInterface; name the slot's own form.
    using TQueryInterface = HRESULT (STDMETHODCALLTYPE IUnknown::*)(REFIID, void**);
    EXPECT_EQ(SlotOf(static_cast<TQueryInterface>(&IUnknown::QueryInterface)), 0);
    EXPECT_EQ(SlotOf(&IUnknown::AddRef), 1);
    EXPECT_EQ(SlotOf(&IUnknown::Release), 2);

    EXPECT_EQ(SlotOf(&IAIMPPlugin::GetInfo), 3);
    EXPECT_EQ(SlotOf(&IAIMPPlugin::GetCategories), 4);
    EXPECT_EQ(SlotOf(&IAIMPPlugin::Initialize), 5);
    EXPECT_EQ(SlotOf(&IAIMPPlugin::Finalize), 6);
    EXPECT_EQ(SlotOf(&IAIMPPlugin::Notify), 7);

    EXPECT_EQ(SlotOf(&IAIMPExtensionEmbeddedVisualization::GetFlags), 3);
    EXPECT_EQ(SlotOf(&IAIMPExtensionEmbeddedVisualization::GetMaxDisplaySize), 4);
    EXPECT_EQ(SlotOf(&IAIMPExtensionEmbeddedVisualization::GetName), 5);
    EXPECT_EQ(SlotOf(&IAIMPExtensionEmbeddedVisualization::Initialize), 6);
    EXPECT_EQ(SlotOf(&IAIMPExtensionEmbeddedVisualization::Finalize), 7);
    EXPECT_EQ(SlotOf(&IAIMPExtensionEmbeddedVisualization::Click), 8);
    EXPECT_EQ(SlotOf(&IAIMPExtensionEmbeddedVisualization::Draw), 9);
    EXPECT_EQ(SlotOf(&IAIMPExtensionEmbeddedVisualization::Resize), 10);

    EXPECT_EQ(SlotOf(&IAIMPCore::MakeObject), 3);
    EXPECT_EQ(SlotOf(&IAIMPCore::AddExtension), 5);
    EXPECT_EQ(SlotOf(&IAIMPCore::RegisterService), 7);

    EXPECT_EQ(SlotOf(&IAIMPString::GetChar), 3);
    EXPECT_EQ(SlotOf(&IAIMPString::GetChars), 4);
    EXPECT_EQ(SlotOf(&IAIMPString::GetCharCount), 5);
    EXPECT_EQ(SlotOf(&IAIMPString::SetChars), 8);
    EXPECT_EQ(SlotOf(&IAIMPString::SubString), 22);

    EXPECT_EQ(SlotOf(&IAIMPServiceConfig::DeleteValue), 3);
    EXPECT_EQ(SlotOf(&IAIMPServiceConfig::GetFloatValue), 4);
    EXPECT_EQ(SlotOf(&IAIMPServiceConfig::GetInt32Value), 5);
    EXPECT_EQ(SlotOf(&IAIMPServiceConfig::GetInt64Value), 6);
    EXPECT_EQ(SlotOf(&IAIMPServiceConfig::GetStringValue), 8);
    EXPECT_EQ(SlotOf(&IAIMPServiceConfig::SetFloatValue), 9);
    EXPECT_EQ(SlotOf(&IAIMPServiceConfig::SetInt32Value), 10);
    EXPECT_EQ(SlotOf(&IAIMPServiceConfig::SetInt64Value), 11);
    EXPECT_EQ(SlotOf(&IAIMPServiceConfig::SetStringValue), 13);
    EXPECT_EQ(SlotOf(&IAIMPServiceConfig::FlushCache), 14);
}

} // namespace
