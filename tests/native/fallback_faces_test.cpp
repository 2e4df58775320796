// Which face of a font file is taken, read from its name tables, and the
// order the fallback faces are merged in.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gfx/fallback_faces.h"

namespace
{
struct Face
{
    std::u16string family;
    std::u16string style;
};

void Put(std::vector<uint8_t>& out, uint64_t value, int bytes)
{
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
    {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

// A face's table directory with only a naming table, placed at `at` in the
// file: Windows-platform names 1 and 2, and a Macintosh name 1 "Decoy".
std::vector<uint8_t> FaceBytes(const Face& face, uint32_t at)
{
    std::vector<uint8_t> out;
    Put(out, 0x00010000'0001, 6);
    Put(out, 0, 6);
    Put(out, 0x6E616D65'00000000, 8);  // "name", no checksum
    Put(out, (uint64_t{at} + 28) << 32, 8);
    Put(out, 0x0000'0003'002A, 6);  // format 0, 3 records, strings after them
    const std::u16string strings[] = {face.family, face.style, u"Decoy"};
    const uint64_t records[] = {0x0003'0001'0409'0001, 0x0003'0001'0409'0002, 0x0001'0000'0000'0001};
    uint32_t offset = 0;
    for (int i = 0; i < 3; ++i)
    {
        Put(out, records[i], 8);
        Put(out, strings[i].size() * 2 << 16 | offset, 4);
        offset += static_cast<uint32_t>(strings[i].size() * 2);
    }
    for (const std::u16string& text : strings)
        for (char16_t unit : text)
            Put(out, unit, 2);
    return out;
}

std::vector<uint8_t> Collection(const std::vector<Face>& faces)
{
    std::vector<uint8_t> out;
    Put(out, 0x74746366'00010000, 8);  // "ttcf", version 1
    Put(out, faces.size(), 4);
    std::vector<uint8_t> bodies;
    const uint32_t start = 12 + 4 * static_cast<uint32_t>(faces.size());
    for (const Face& face : faces)
    {
        Put(out, start + bodies.size(), 4);
        const std::vector<uint8_t> body = FaceBytes(face, start + static_cast<uint32_t>(bodies.size()));
        bodies.insert(bodies.end(), body.begin(), body.end());
    }
    out.insert(out.end(), bodies.begin(), bodies.end());
    return out;
}
}  // namespace

TEST(FaceIndexInFile, TakesTheFaceByFamilyAndStyleThenByFamily)
{
    struct Case
    {
        std::vector<Face> faces;
        std::u16string family;
        std::u16string style;
        int index;
    };
    const std::vector<Face> yaHei = {{u"Microsoft YaHei", u"Bold"}, {u"Microsoft YaHei UI", u"Regular"},
                                     {u"Microsoft YaHei UI", u"Bold"}};
    const Case cases[] = {
        {yaHei, u"Microsoft YaHei UI", u"Bold", 2},
        {yaHei, u"Microsoft YaHei UI", u"Regular", 1},
        // A family whose name only begins like the wanted one is another.
        {{{u"Yu Gothic UI Semibold", u"Regular"}, {u"Yu Gothic UI", u"Bold"}}, u"Yu Gothic UI", u"Regular", 1},
        {{{u"Yu Gothic", u"Regular"}, {u"Yu Gothic UI", u"Regular"}}, u"Yu Gothic UI", u"Bold", 1},
        // The Macintosh record of every face says "Decoy"; it is not read.
        {{{u"Other", u"Regular"}, {u"Decoy", u"Regular"}}, u"Decoy", u"Bold", 1},
        {yaHei, u"Malgun Gothic", u"Regular", 0},
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(FaceIndexInFile(Collection(c.faces), c.family, c.style), c.index)
            << std::string(c.family.begin(), c.family.end());
    }
}

TEST(FaceIndexInFile, ASingleFaceIsTheFirstAndOtherBytesAreNoFont)
{
    EXPECT_EQ(FaceIndexInFile(FaceBytes({u"A", u"Regular"}, 0), u"B", u"Regular"), 0);
    EXPECT_EQ(FaceIndexInFile(std::vector<uint8_t>{'w', 'O', 'F', 'F', 0, 1, 0, 0}, u"A", u"Regular"), -1);
    // A face count far beyond the end of the file.
    std::vector<uint8_t> huge = Collection({{u"A", u"Regular"}, {u"B", u"Regular"}});
    huge[8] = 0x7F;
    EXPECT_EQ(FaceIndexInFile(huge, u"B", u"Regular"), -1);
}

TEST(FallbackFacesFor, TheFaceOfTheUsersLanguageComesFirstTheRestKeepTheirOrder)
{
    const std::vector<const FallbackFace*> listed = FallbackFacesFor(0x09);  // English
    ASSERT_GE(listed.size(), 4u);
    for (const uint16_t language : {0x04, 0x11, 0x12})
    {
        std::vector<const FallbackFace*> expected = listed;
        const auto own = std::find_if(expected.begin(), expected.end(),
                                      [language](const FallbackFace* face) { return face->language == language; });
        ASSERT_NE(own, expected.end()) << language;
        std::rotate(expected.begin(), own, own + 1);
        EXPECT_EQ(FallbackFacesFor(language), expected) << language;
    }
}
