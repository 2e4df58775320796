#include "ui/align_dialog.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "app/app_state.h"
#include "audio/inventory/name_match.h"
#include "log/text_convert.h"
#include "settings/settings_store.h"
#include "ui/style.h"
#include "ui/target_health.h"
#include "ui/widgets.h"

namespace
{
constexpr char kTitle[] = "Align devices";
constexpr float kDialogWidth = 440.0f;  // times the scale, within the display
constexpr float kDisplayMargin = 20.0f;
constexpr int32_t kRecordingFlow = 1;

// What the dialog remembers while it is open. Main thread only.
struct DialogState
{
    bool openRequested = false;
    // Start was pressed in this opening: the report below is its own, not
    // one left from an earlier opening.
    bool started = false;
    EndpointIdentity microphone;
    int probeDbfs = static_cast<int>(kDefaultProbeDbfs);
};

DialogState& Dialog()
{
    static DialogState dialog;
    return dialog;
}

bool IsMicrophoneEntry(const AudioEndpointInfo& entry)
{
    return entry.identity.dataFlow == kRecordingFlow && !entry.identity.isDefault;
}

// The saved microphone by the same scores as a saved source, so that one
// plugged into another port is still found; else the first listed.
EndpointIdentity PreselectedMicrophone(const AppState& state)
{
    const AudioEndpointInfo* best = nullptr;
    int32_t bestScore = kMatchThreshold - 1;
    const AudioEndpointInfo* first = nullptr;
    for (const AudioEndpointInfo& entry : state.sourceDevices)
    {
        if (!IsMicrophoneEntry(entry))
        {
            continue;
        }
        first = first != nullptr ? first : &entry;
        const int32_t score = MatchScore(state.alignMicrophone, entry.identity);
        if (score > bestScore)
        {
            best = &entry;
            bestScore = score;
        }
    }
    best = best != nullptr ? best : first;
    return best != nullptr ? best->identity : EndpointIdentity{};
}

std::string MicrophonePreview(const AppState& state, const EndpointIdentity& chosen)
{
    if (chosen.eid.empty())
    {
        return "No recording device";
    }
    for (const AudioEndpointInfo& entry : state.sourceDevices)
    {
        if (IsMicrophoneEntry(entry) && entry.identity.eid == chosen.eid)
        {
            return entry.displayName;
        }
    }
    return "[Not connected] " + WideToUtf8(chosen.name);
}

void DrawMicrophoneChooser(const AppState& state, DialogState& dialog)
{
    ImGui::TextUnformatted("Microphone");
    NameCombo("##alignMicrophone", MicrophonePreview(state, dialog.microphone), [&state, &dialog] {
        for (size_t i = 0; i < state.sourceDevices.size(); ++i)
        {
            const AudioEndpointInfo& entry = state.sourceDevices[i];
            if (IsMicrophoneEntry(entry) &&
                NameEntry(entry.displayName, i, entry.identity.eid == dialog.microphone.eid))
            {
                dialog.microphone = entry.identity;
            }
        }
    });
}

void DrawSettings(const AppState& state, DialogState& dialog)
{
    DrawMicrophoneChooser(state, dialog);
    Spacer(5);
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x);
    ImGui::SliderInt("##probeLevel", &dialog.probeDbfs, static_cast<int>(kLowestProbeDbfs), 0,
                     "Probe level %d dBFS", ImGuiSliderFlags_AlwaysClamp);
    Spacer(5);
    ImGui::TextWrapped("The route pauses while each ticked device plays a short sweep in turn, three times. "
                       "Place the microphone where you listen and keep the room quiet until it is done.");
}

// One target's findings: its name cut to the column, then the figures.
void ResultRow(const AlignedTarget& target)
{
    ImGui::TableNextRow();
    ImGui::TableNextColumn();
    const FittedText shown = FitName(target.name, ImGui::GetContentRegionAvail().x);
    ImGui::TextUnformatted(shown.shown.c_str());
    NameTooltip(shown, target.name, ImGui::IsItemHovered());
    ImGui::TableNextColumn();
    ImGui::Text("%+.1f ms", target.arrivalMs);
    ImGui::TableNextColumn();
    ImGui::Text("%d ms", static_cast<int>(target.delayMs));
    ImGui::TableNextColumn();
    ImGui::Text("%.1f", target.quality);
}

void DrawResults(const AlignmentReport& report)
{
    if (ImGui::BeginTable("##alignResults", 4, ImGuiTableFlags_SizingFixedFit | ImGuiTableFlags_RowBg))
    {
        ImGui::TableSetupColumn("Device", ImGuiTableColumnFlags_WidthStretch);
        ImGui::TableSetupColumn("Arrives");
        ImGui::TableSetupColumn("Delay");
        ImGui::TableSetupColumn("Quality");
        ImGui::TableHeadersRow();
        for (const AlignedTarget& target : report.targets)
        {
            ResultRow(target);
        }
        ImGui::EndTable();
    }
    if (!report.rawMode)
    {
        ImGui::TextWrapped("The microphone's own processing was on; it may blur the measurement.");
    }
}

void DrawReport(const AlignmentReport& report)
{
    switch (report.state)
    {
    case AlignmentState::Measuring:
        ImGui::TextWrapped("%s", report.progress.empty() ? "Measuring..." : report.progress.c_str());
        break;
    case AlignmentState::Done: DrawResults(report); break;
    case AlignmentState::Refused:
    {
        const LightColour red = ColourOf(HealthLight::Red);
        ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(red.r / 255.0f, red.g / 255.0f, red.b / 255.0f, 1.0f));
        ImGui::TextWrapped("%s", report.reason.c_str());
        ImGui::PopStyleColor();
        break;
    }
    case AlignmentState::Cancelled: ImGui::TextWrapped("Cancelled: the delays are as they were."); break;
    case AlignmentState::Idle: break;
    }
}

// The choice is saved whether or not the alignment starts.
void StartAlignment(AppState& state, DialogState& dialog)
{
    state.alignMicrophone = dialog.microphone;
    state.alignProbeDbfs = static_cast<float>(dialog.probeDbfs);
    SaveSettings(state);
    dialog.started = true;
    state.alignment.Start(state, dialog.microphone, state.alignProbeDbfs);
}

void DrawButtons(AppState& state, DialogState& dialog, const AlignmentReport& report)
{
    const bool busy = report.state == AlignmentState::Measuring;
    const float width = (ImGui::GetContentRegionAvail().x - ImGui::GetStyle().ItemSpacing.x) * 0.5f;
    ImGui::BeginDisabled(busy || dialog.microphone.eid.empty());
    if (ImGui::Button("Start##align", ImVec2(width, 0.0f)))
    {
        StartAlignment(state, dialog);
    }
    ImGui::EndDisabled();
    if (dialog.microphone.eid.empty() && ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled))
    {
        ImGui::SetTooltip("Connect a microphone or another recording device.");
    }
    ImGui::SameLine();
    const bool finished = dialog.started && !busy;
    if (ImGui::Button(finished ? "Close##align" : "Cancel##align", ImVec2(width, 0.0f)))
    {
        if (busy)
        {
            state.alignment.Cancel(state);
        }
        else
        {
            ImGui::CloseCurrentPopup();
        }
    }
}

void SetNextDialogSize()
{
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    const float width = std::min(kDialogWidth * CurrentScale(), display.x - kDisplayMargin);
    ImGui::SetNextWindowSizeConstraints(ImVec2(width, 0.0f), ImVec2(width, display.y - kDisplayMargin));
    ImGui::SetNextWindowPos(ImVec2(display.x * 0.5f, display.y * 0.5f), ImGuiCond_Appearing, ImVec2(0.5f, 0.5f));
}
}  // namespace

void OpenAlignDialog(const AppState& state)
{
    DialogState& dialog = Dialog();
    dialog.openRequested = true;
    // A measuring that goes on keeps its report in view.
    dialog.started = state.alignment.Busy();
    dialog.microphone = PreselectedMicrophone(state);
    dialog.probeDbfs = static_cast<int>(std::lround(std::clamp(state.alignProbeDbfs, kLowestProbeDbfs, 0.0f)));
}

void DrawAlignDialog(AppState& state)
{
    DialogState& dialog = Dialog();
    if (dialog.openRequested)
    {
        ImGui::OpenPopup(kTitle);
        dialog.openRequested = false;
    }
    SetNextDialogSize();
    bool open = true;
    // The main window has no padding above and below; a dialog needs it.
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(15.0f * CurrentScale(), 12.0f * CurrentScale()));
    const bool shown =
        ImGui::BeginPopupModal(kTitle, &open, ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoSavedSettings);
    ImGui::PopStyleVar();
    if (!shown)
    {
        return;
    }
    const AlignmentReport& report = state.alignment.Poll(state);
    if (!open && state.alignment.Busy())
    {
        // Closing the dialog mid-measure is a cancel, not a measuring left
        // to run where nobody sees it.
        state.alignment.Cancel(state);
    }
    ImGui::BeginDisabled(report.state == AlignmentState::Measuring);
    DrawSettings(state, dialog);
    ImGui::EndDisabled();
    if (dialog.started)
    {
        Spacer(5);
        DrawReport(report);
    }
    Spacer(5);
    DrawButtons(state, dialog, report);
    ImGui::EndPopup();
}
