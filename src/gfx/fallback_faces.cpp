// The file layouts read here, all big-endian:
// - the collection header ("ttcf", version, face count, one offset per
//   face) and the table directory of a face (sfnt version, table count,
//   16-byte records of tag, checksum, offset, length): Microsoft
//   Typography's page "The OpenType Font File"
// - the naming table (format, record count, string storage offset, 12-byte
//   records of platform, encoding, language, name id, length, offset;
//   Windows-platform strings in UTF-16BE):
//   Microsoft Typography's page "name — Naming Table"
#include "gfx/fallback_faces.h"

#include <algorithm>
#include <optional>

namespace
{
constexpr uint16_t kChinese = 0x04;
constexpr uint16_t kJapanese = 0x11;
constexpr uint16_t kKorean = 0x12;

// Bold faces are taken where Windows has them; Segoe UI Symbol has none,
// and its regular face stands in for both.
const FallbackFace kFallbackFaces[] = {
    {kChinese, {{L"msyh.ttc", u"Microsoft YaHei UI", u"Regular"}}, {{L"msyhbd.ttc", u"Microsoft YaHei UI", u"Bold"}}},
    {kJapanese,
     {{L"YuGothM.ttc", u"Yu Gothic UI", u"Regular"}, {L"yugothic.ttf", u"Yu Gothic", u"Regular"}},
     {{L"YuGothB.ttc", u"Yu Gothic UI", u"Bold"}, {L"yugothib.ttf", u"Yu Gothic", u"Bold"}}},
    {kKorean, {{L"malgun.ttf", u"Malgun Gothic", u"Regular"}}, {{L"malgunbd.ttf", u"Malgun Gothic", u"Bold"}}},
    {0, {{L"LeelawUI.ttf", u"Leelawadee UI", u"Regular"}}, {{L"LeelaUIb.ttf", u"Leelawadee UI", u"Bold"}}},
    {0,
     {{L"Nirmala.ttf", u"Nirmala UI", u"Regular"}, {L"Nirmala.ttc", u"Nirmala UI", u"Regular"}},
     {{L"NirmalaB.ttf", u"Nirmala UI", u"Bold"}, {L"Nirmala.ttc", u"Nirmala UI", u"Bold"}}},
    {0, {{L"seguisym.ttf", u"Segoe UI Symbol", u"Regular"}}, {{L"seguisym.ttf", u"Segoe UI Symbol", u"Regular"}}},
    // Hebrew and Arabic, should a Segoe UI lack them: Arial has both on
    // every Windows version.
    {0, {{L"arial.ttf", u"Arial", u"Regular"}}, {{L"arialbd.ttf", u"Arial", u"Bold"}}},
};

class Reader
{
public:
    explicit Reader(std::span<const uint8_t> bytes) : bytes(bytes) {}

    std::optional<uint32_t> U16(size_t at) const
    {
        if (at > bytes.size() || bytes.size() - at < 2)
        {
            return std::nullopt;
        }
        return static_cast<uint32_t>(bytes[at] << 8 | bytes[at + 1]);
    }
    std::optional<uint32_t> U32(size_t at) const
    {
        const auto high = U16(at);
        const auto low = U16(at + 2);
        return high && low ? std::optional<uint32_t>(*high << 16 | *low) : std::nullopt;
    }
    // A UTF-16BE string of `length` bytes equals `text`.
    bool TextIs(size_t at, size_t length, std::u16string_view text) const
    {
        if (length != text.size() * 2)
        {
            return false;
        }
        for (size_t i = 0; i < text.size(); ++i)
        {
            if (U16(at + 2 * i) != std::optional<uint32_t>(text[i]))
            {
                return false;
            }
        }
        return true;
    }

private:
    std::span<const uint8_t> bytes;
};

constexpr uint32_t Tag(const char (&text)[5])
{
    return static_cast<uint32_t>(text[0]) << 24 | static_cast<uint32_t>(text[1]) << 16 |
           static_cast<uint32_t>(text[2]) << 8 | static_cast<uint32_t>(text[3]);
}

std::optional<uint32_t> NameTableOffset(const Reader& file, uint32_t face)
{
    const auto tables = file.U16(face + 4);
    for (uint32_t i = 0; tables && i < *tables; ++i)
    {
        const size_t record = face + 12 + 16 * static_cast<size_t>(i);
        if (file.U32(record) == std::optional<uint32_t>(Tag("name")))
        {
            return file.U32(record + 8);
        }
    }
    return std::nullopt;
}

// Whether a Windows-platform name record of this id says `text`, in any
// language (the localised family names stand beside the English one).
bool HasName(const Reader& file, uint32_t table, uint32_t id, std::u16string_view text)
{
    const auto count = file.U16(table + 2);
    const auto storage = file.U16(table + 4);
    for (uint32_t i = 0; count && storage && i < *count; ++i)
    {
        const size_t record = table + 6 + 12 * static_cast<size_t>(i);
        const auto length = file.U16(record + 8);
        const auto offset = file.U16(record + 10);
        if (file.U16(record) == std::optional<uint32_t>(3) && file.U16(record + 6) == std::optional<uint32_t>(id) &&
            length && offset && file.TextIs(size_t{table} + *storage + *offset, *length, text))
        {
            return true;
        }
    }
    return false;
}

// 2: family and style match; 1: the family alone; 0: neither.
int FaceMatch(const Reader& file, uint32_t face, std::u16string_view family, std::u16string_view style)
{
    const auto table = NameTableOffset(file, face);
    if (!table || !HasName(file, *table, 1, family))
    {
        return 0;
    }
    return HasName(file, *table, 2, style) ? 2 : 1;
}
}  // namespace

std::vector<const FallbackFace*> FallbackFacesFor(uint16_t userPrimaryLanguage)
{
    std::vector<const FallbackFace*> faces;
    for (const FallbackFace& face : kFallbackFaces)
    {
        faces.push_back(&face);
    }
    std::stable_partition(faces.begin(), faces.end(), [userPrimaryLanguage](const FallbackFace* face) {
        return face->language != 0 && face->language == userPrimaryLanguage;
    });
    return faces;
}

int FaceIndexInFile(std::span<const uint8_t> file, std::u16string_view family, std::u16string_view style)
{
    const Reader reader(file);
    const auto tag = reader.U32(0);
    if (!tag)
    {
        return -1;
    }
    if (*tag != Tag("ttcf"))
    {
        return *tag == 0x00010000u || *tag == Tag("OTTO") || *tag == Tag("true") ? 0 : -1;
    }
    const auto count = reader.U32(8);
    if (!count || *count == 0 || !reader.U32(12 + 4 * static_cast<size_t>(*count - 1)))
    {
        return -1;
    }
    int best = 0;
    int bestMatch = 0;
    for (uint32_t i = 0; i < *count; ++i)
    {
        const int match = FaceMatch(reader, reader.U32(12 + 4 * static_cast<size_t>(i)).value_or(0), family, style);
        if (match > bestMatch)
        {
            best = static_cast<int>(i);
            bestMatch = match;
        }
    }
    return best;
}
