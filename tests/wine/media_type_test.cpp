#include <gtest/gtest.h>

#include <cstring>

#include "framework/media_type.h"
#include "framework/unknown.h"

namespace kv20x {
namespace {

// An object whose references can be counted.
class Counted final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++count); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--count); }
    int count = 1;
};

CMediaType WithFormat(ULONG size, BYTE fill)
{
    CMediaType type;
    type.majortype = MEDIATYPE_Video;
    type.subtype = MEDIASUBTYPE_RGB24;
    type.formattype = FORMAT_VideoInfo;
    BYTE* block = type.AllocFormatBuffer(size);
    std::memset(block, fill, size);
    return type;
}

TEST(CMediaType, NewRecordIsEmptyWithFixedSizeOneByteSamples)
{
    const CMediaType type;
    EXPECT_EQ(type.majortype, GUID_NULL);
    EXPECT_TRUE(type.bFixedSizeSamples);
    EXPECT_EQ(type.lSampleSize, 1u);
    EXPECT_EQ(type.cbFormat, 0u);
    EXPECT_EQ(type.pbFormat, nullptr);
    EXPECT_TRUE(type.IsPartiallySpecified());
}

TEST(CMediaType, CopiesOwnTheirBlockAndAReferenceOnTheObject)
{
    Counted object;
    {
        CMediaType original = WithFormat(88, 7);
        original.pUnk = &object;
        object.AddRef();
        CMediaType copy(original);
        EXPECT_EQ(object.count, 3);
        EXPECT_NE(copy.pbFormat, original.pbFormat);
        EXPECT_EQ(copy.cbFormat, 88u);
        EXPECT_TRUE(copy == original);
        copy = copy;  // self-assignment changes nothing
        EXPECT_EQ(copy.cbFormat, 88u);
        AM_MEDIA_TYPE* created = CreateMediaType(&copy);
        ASSERT_NE(created, nullptr);
        EXPECT_EQ(object.count, 4);
        DeleteMediaType(created);
        EXPECT_EQ(object.count, 3);
    }
    EXPECT_EQ(object.count, 1);
}

TEST(CMediaType, FormatBlockResize)
{
    CMediaType type = WithFormat(16, 1);
    BYTE* block = type.pbFormat;
    EXPECT_EQ(type.AllocFormatBuffer(16), block) << "same size keeps the block";
    ASSERT_NE(type.AllocFormatBuffer(40), nullptr);
    EXPECT_EQ(type.cbFormat, 40u);
    type.ResetFormatBuffer();
    EXPECT_EQ(type.cbFormat, 0u);
    EXPECT_EQ(type.pbFormat, nullptr);
}

TEST(CMediaType, PartialMatching)
{
    const CMediaType full = WithFormat(8, 3);
    CMediaType partial;
    partial.majortype = MEDIATYPE_Video;
    EXPECT_TRUE(full.MatchesPartial(partial));
    partial.subtype = MEDIASUBTYPE_RGB32;
    EXPECT_FALSE(full.MatchesPartial(partial));
    const CMediaType sameFormat = WithFormat(8, 3);
    EXPECT_TRUE(full.MatchesPartial(sameFormat));
    const CMediaType otherBytes = WithFormat(8, 4);
    EXPECT_FALSE(full.MatchesPartial(otherBytes));
    const CMediaType otherSize = WithFormat(9, 3);
    EXPECT_FALSE(full.MatchesPartial(otherSize));
    EXPECT_FALSE(full.IsPartiallySpecified());
}

TEST(CMediaType, SampleSizeZeroMeansVariableSamples)
{
    CMediaType type;
    type.SetSampleSize(0);
    EXPECT_FALSE(type.bFixedSizeSamples);
    type.SetSampleSize(100);
    EXPECT_TRUE(type.bFixedSizeSamples);
    EXPECT_EQ(type.lSampleSize, 100u);
}

TEST(CMediaType, FreeingClearsTheBlockAndReleasesTheObject)
{
    Counted object;
    AM_MEDIA_TYPE type{};
    type.pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(4));
    type.cbFormat = 4;
    type.pUnk = &object;
    object.AddRef();
    FreeMediaType(type);
    EXPECT_EQ(type.pbFormat, nullptr);
    EXPECT_EQ(type.cbFormat, 0u);
    EXPECT_EQ(type.pUnk, nullptr);
    EXPECT_EQ(object.count, 1);
    EXPECT_EQ(LiveObjectCount(), 0);
}

}  // namespace
}  // namespace kv20x
