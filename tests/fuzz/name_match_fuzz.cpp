// Saved choices against listed endpoints with any ids, GUIDs, form factors
// and names (UTF-16 units, as Windows gives them). Besides not crashing:
// every record is the same endpoint as itself, scores stay in their range,
// and the resolved selection always indexes the lists it was given.
#include <string>
#include <vector>

#include "audio/inventory/name_match.h"
#include "fuzz_targets.h"

namespace
{
// Reads the input front to back; past its end every read gives zeros.
class Reader
{
public:
    Reader(const uint8_t* data, size_t size) : data(data), size(size) {}

    bool Done() const { return at >= size; }

    uint8_t Byte() { return at < size ? data[at++] : 0; }

    std::string Narrow()
    {
        std::string text(Byte() % 8, '\0');
        for (char& c : text)
            c = static_cast<char>(Byte() % 4 + 'a');
        return text;
    }

    std::wstring Wide()
    {
        std::wstring text(Byte() % 24, L'\0');
        for (wchar_t& c : text)
        {
            const uint8_t low = Byte();
            c = static_cast<wchar_t>(low | (Byte() << 8));
        }
        return text;
    }

    EndpointIdentity Identity()
    {
        EndpointIdentity identity;
        identity.eid = Narrow();
        identity.eguid = Narrow();
        identity.ff = Byte() % 3;
        identity.name = Wide();
        identity.isDefault = Byte() % 5 == 0;
        return identity;
    }

    std::vector<EndpointIdentity> Identities()
    {
        std::vector<EndpointIdentity> list(Byte() % 5);
        for (EndpointIdentity& identity : list)
            identity = Identity();
        return list;
    }

private:
    const uint8_t* data;
    size_t size;
    size_t at = 0;
};
}  // namespace

int FuzzNameMatch(const uint8_t* data, size_t size)
{
    Reader input(data, size);
    const EndpointIdentity source = input.Identity();
    const std::vector<EndpointIdentity> targets = input.Identities();
    const std::vector<EndpointIdentity> sources = input.Identities();
    const std::vector<EndpointIdentity> playback = input.Identities();

    TONEFORK_FUZZ_REQUIRE(IsSameEndpoint(source, source));
    for (const EndpointIdentity& candidate : playback)
    {
        const int32_t score = MatchScore(source, candidate);
        TONEFORK_FUZZ_REQUIRE(score >= 0 && score <= kIdMatchScore);
        TONEFORK_FUZZ_REQUIRE(IsSameEndpoint(candidate, candidate));
    }
    const ResolvedSelection resolved = ResolveSelection(source, targets, sources, playback);
    TONEFORK_FUZZ_REQUIRE(resolved.targetSelected.size() == playback.size());
    TONEFORK_FUZZ_REQUIRE(resolved.selectedSourceIndex >= (sources.empty() ? -1 : 0));
    TONEFORK_FUZZ_REQUIRE(resolved.selectedSourceIndex < static_cast<int32_t>(sources.size()));
    return 0;
}

TONEFORK_FUZZ_ENTRY(FuzzNameMatch)
