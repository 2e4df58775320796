#include <gtest/gtest.h>

#include "audio/inventory/name_match.h"

namespace {

EndpointIdentity Named(const std::wstring& name, uint32_t ff = 0)
{
    EndpointIdentity identity;
    identity.name = name;
    identity.ff = ff;
    return identity;
}

EndpointIdentity WithIds(const std::string& eid, const std::string& eguid, const std::wstring& name)
{
    EndpointIdentity identity = Named(name);
    identity.eid = eid;
    identity.eguid = eguid;
    return identity;
}

EndpointIdentity SystemDefaultEntry()
{
    EndpointIdentity identity = Named(L"System Default Device");
    identity.isDefault = true;
    return identity;
}

TEST(NormalizeDeviceName, StripsNumberedSuffixAndLowerCases)
{
    EXPECT_EQ(NormalizeDeviceName(L"Speakers (2)"), L"speakers");
    EXPECT_EQ(NormalizeDeviceName(L"Speakers(12)"), L"speakers");
    EXPECT_EQ(NormalizeDeviceName(L"Mic (10) "), L"mic");
    EXPECT_EQ(NormalizeDeviceName(L"Mic (10)\t\n"), L"mic");
    EXPECT_EQ(NormalizeDeviceName(L"(123)"), L"");
}

TEST(NormalizeDeviceName, RemovesOnlyOneSpaceBeforeSuffix)
{
    EXPECT_EQ(NormalizeDeviceName(L"Speakers  (2)"), L"speakers ");
}

TEST(NormalizeDeviceName, KeepsSuffixesThatAreNotPlainNumbers)
{
    EXPECT_EQ(NormalizeDeviceName(L"Speakers (Brand(R) Audio)"), L"speakers (brand(r) audio)");
    EXPECT_EQ(NormalizeDeviceName(L"Speakers ()"), L"speakers ()");
    EXPECT_EQ(NormalizeDeviceName(L"Speakers (2a)"), L"speakers (2a)");
    EXPECT_EQ(NormalizeDeviceName(L"(5)"), L"(5)");
    EXPECT_EQ(NormalizeDeviceName(L"(12)"), L"(12)");
    EXPECT_EQ(NormalizeDeviceName(L"Line 2)"), L"line 2)");
    // Only the very end counts; a number in the middle stays.
    EXPECT_EQ(NormalizeDeviceName(L"Speakers (2) Rear"), L"speakers (2) rear");
    EXPECT_EQ(NormalizeDeviceName(L""), L"");
}

TEST(MatchScore, IdAndGuidDecideAtOnce)
{
    const EndpointIdentity saved = WithIds("{id-1}", "{guid-1}", L"Speakers");
    EXPECT_EQ(MatchScore(saved, WithIds("{id-1}", "{other}", L"Renamed")), kIdMatchScore);
    EXPECT_EQ(MatchScore(saved, WithIds("{id-2}", "{guid-1}", L"Renamed")), kGuidMatchScore);
    EXPECT_EQ(MatchScore(saved, WithIds("{id-2}", "{other}", L"Speakers")), kExactNameMatchScore);
}

TEST(MatchScore, EmptyIdsNeverMatch)
{
    const EndpointIdentity saved = WithIds("", "", L"Speakers");
    EXPECT_EQ(MatchScore(saved, WithIds("", "", L"Headset")), 0);
}

TEST(MatchScore, NameScoresWithAndWithoutFormFactor)
{
    EXPECT_EQ(MatchScore(Named(L"Speakers (2)"), Named(L"Speakers")), 200);
    EXPECT_EQ(MatchScore(Named(L"Speakers (2)", 1), Named(L"Speakers", 1)), 250);
    EXPECT_EQ(MatchScore(Named(L"Headphones"), Named(L"Headphones (USB Audio)")), 120);
    EXPECT_EQ(MatchScore(Named(L"Headphones", 3), Named(L"Headphones (USB Audio)", 3)), 170);
    // Containment counts both ways.
    EXPECT_EQ(MatchScore(Named(L"Headphones (USB Audio)"), Named(L"Headphones")), 120);
    EXPECT_EQ(MatchScore(Named(L"Speakers", 1), Named(L"Headset", 2)), 0);
}

TEST(MatchScore, EmptyNames)
{
    // An empty saved name only earns the form factor.
    EXPECT_EQ(MatchScore(Named(L"", 4), Named(L"", 4)), 50);
    EXPECT_EQ(MatchScore(Named(L""), Named(L"Speakers")), 0);
    // An empty candidate name counts as contained in the saved one.
    EXPECT_EQ(MatchScore(Named(L"Speakers"), Named(L"")), 120);
    // A zero form factor earns nothing even when both are zero.
    EXPECT_EQ(MatchScore(Named(L"Speakers", 0), Named(L"Speakers", 0)), 200);
}

TEST(MatchScore, IgnoresDefaultFlagAndDataFlow)
{
    EndpointIdentity candidate = WithIds("{id}", "", L"Mic");
    candidate.isDefault = true;
    candidate.dataFlow = 1;
    EXPECT_EQ(MatchScore(WithIds("{id}", "", L"Mic"), candidate), kIdMatchScore);
}

TEST(IsSameEndpoint, IdGuidOrFormFactorWithName)
{
    EXPECT_TRUE(IsSameEndpoint(WithIds("{a}", "", L"One"), WithIds("{a}", "", L"Two")));
    EXPECT_TRUE(IsSameEndpoint(WithIds("{a}", "{g}", L"One"), WithIds("{b}", "{g}", L"Two")));
    EXPECT_TRUE(IsSameEndpoint(Named(L"Speakers", 1), Named(L"speakers (3)", 1)));
    EXPECT_TRUE(IsSameEndpoint(Named(L""), Named(L"")));
    EXPECT_FALSE(IsSameEndpoint(Named(L"Speakers", 1), Named(L"Speakers", 2)));
    EXPECT_FALSE(IsSameEndpoint(WithIds("{a}", "{g}", L"One"), WithIds("{b}", "{h}", L"Two")));
    // Ids that differ still leave the name rule.
    EXPECT_TRUE(IsSameEndpoint(WithIds("{a}", "", L"Speakers"), WithIds("{b}", "", L"Speakers")));
}

TEST(IsSameEndpoint, PartialNameIsNotEnough)
{
    EXPECT_FALSE(IsSameEndpoint(Named(L"Headphones"), Named(L"Headphones (USB Audio)")));
}

class ResolveSelectionTest : public ::testing::Test
{
protected:
    // Source list as the inventory builds it: default entry, the playback
    // endpoints, then the recording endpoints.
    std::vector<EndpointIdentity> playback{
        WithIds("{p0}", "{gp0}", L"Speakers"),
        WithIds("{p1}", "{gp1}", L"Headphones (USB Audio)"),
        WithIds("{p2}", "{gp2}", L"Speakers"),
    };
    std::vector<EndpointIdentity> sources{
        SystemDefaultEntry(),
        playback[0],
        playback[1],
        playback[2],
        WithIds("{r0}", "{gr0}", L"Microphone"),
    };
    std::vector<EndpointIdentity> noTargets;
};

TEST_F(ResolveSelectionTest, SourceFoundByIdDespiteNewName)
{
    const auto result = ResolveSelection(WithIds("{r0}", "", L"Old name"), noTargets, sources, playback);
    EXPECT_EQ(result.selectedSourceIndex, 4);
}

TEST_F(ResolveSelectionTest, SourceFoundByGuidAndByNumberedName)
{
    EXPECT_EQ(ResolveSelection(WithIds("{gone}", "{gp1}", L""), noTargets, sources, playback).selectedSourceIndex,
              2);
    EXPECT_EQ(ResolveSelection(Named(L"Microphone (2)"), noTargets, sources, playback).selectedSourceIndex, 4);
}

TEST_F(ResolveSelectionTest, TiesGoToEarliestEntry)
{
    EXPECT_EQ(ResolveSelection(Named(L"Speakers"), noTargets, sources, playback).selectedSourceIndex, 1);
}

TEST_F(ResolveSelectionTest, WeakOrNoMatchFallsBackToDefaultEntry)
{
    EXPECT_EQ(ResolveSelection(Named(L"Headphones", 3), noTargets, sources, playback).selectedSourceIndex, 0);
    EXPECT_EQ(ResolveSelection(EndpointIdentity{}, noTargets, sources, playback).selectedSourceIndex, 0);
}

TEST_F(ResolveSelectionTest, DefaultFlagSelectsEntryZeroWhateverElseIsSaved)
{
    EndpointIdentity saved = WithIds("{r0}", "{gr0}", L"Microphone");
    saved.isDefault = true;
    EXPECT_EQ(ResolveSelection(saved, noTargets, sources, playback).selectedSourceIndex, 0);
}

TEST_F(ResolveSelectionTest, DefaultEntryIsNeverChosenByScore)
{
    const EndpointIdentity saved = Named(L"System Default Device");
    // With the default entry skipped nothing matches, and the fallback is
    // entry 0, which here is not the default entry.
    const std::vector<EndpointIdentity> defaultLast{Named(L"Speakers"), SystemDefaultEntry()};
    EXPECT_EQ(ResolveSelection(saved, noTargets, defaultLast, playback).selectedSourceIndex, 0);
    // An equal name after the default entry wins the tie it would have lost.
    const std::vector<EndpointIdentity> defaultFirst{Named(L"Other"), SystemDefaultEntry(), saved};
    EXPECT_EQ(ResolveSelection(saved, noTargets, defaultFirst, playback).selectedSourceIndex, 2);
}

TEST_F(ResolveSelectionTest, TargetsSetFlagsOfTheirBestPlaybackEntry)
{
    const std::vector<EndpointIdentity> targets{
        WithIds("{p2}", "", L""),       // by id
        Named(L"Headphones"),           // partial: no flag
        WithIds("{gone}", "", L"Nope"), // unplugged
    };
    const auto result = ResolveSelection(EndpointIdentity{}, targets, sources, playback);
    EXPECT_EQ(result.targetSelected, (std::vector<bool>{false, false, true}));
}

TEST_F(ResolveSelectionTest, TwoTargetsOnOneEndpointSetOneFlag)
{
    const std::vector<EndpointIdentity> targets{WithIds("{p1}", "", L""), Named(L"Headphones (USB Audio) (2)")};
    const auto result = ResolveSelection(EndpointIdentity{}, targets, sources, playback);
    EXPECT_EQ(result.targetSelected, (std::vector<bool>{false, true, false}));
}

TEST_F(ResolveSelectionTest, TargetNameTieGoesToEarliestPlaybackEntry)
{
    const auto result = ResolveSelection(EndpointIdentity{}, {Named(L"Speakers (4)")}, sources, playback);
    EXPECT_EQ(result.targetSelected, (std::vector<bool>{true, false, false}));
}

TEST_F(ResolveSelectionTest, TargetReturnsAfterUnplugAndReplug)
{
    const std::vector<EndpointIdentity> targets{WithIds("{p1}", "{gp1}", L"Headphones (USB Audio)")};
    std::vector<EndpointIdentity> unplugged{playback[0], playback[2]};
    EXPECT_EQ(ResolveSelection(EndpointIdentity{}, targets, sources, unplugged).targetSelected,
              (std::vector<bool>{false, false}));
    EXPECT_EQ(ResolveSelection(EndpointIdentity{}, targets, sources, playback).targetSelected,
              (std::vector<bool>{false, true, false}));
}

TEST_F(ResolveSelectionTest, RecordingEndpointIsNeverATarget)
{
    const auto result = ResolveSelection(EndpointIdentity{}, {sources[4]}, sources, playback);
    EXPECT_EQ(result.targetSelected, (std::vector<bool>{false, false, false}));
}

TEST(ResolveSelection, EmptyLists)
{
    const std::vector<EndpointIdentity> targets{Named(L"Speakers")};
    const auto none = ResolveSelection(Named(L"Speakers"), targets, {}, {});
    EXPECT_EQ(none.selectedSourceIndex, -1);
    EXPECT_TRUE(none.targetSelected.empty());

    EndpointIdentity systemDefault;
    systemDefault.isDefault = true;
    EXPECT_EQ(ResolveSelection(systemDefault, targets, {}, {}).selectedSourceIndex, -1);
    EXPECT_EQ(ResolveSelection(Named(L"Speakers"), targets, {SystemDefaultEntry()}, {}).selectedSourceIndex, 0);
}

} // namespace
