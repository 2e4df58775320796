#include "ui/main_tab.h"

#include <imgui.h>
#include <imgui_internal.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>

#include "app/app_state.h"
#include "audio/engine/redirection_control.h"
#include "audio/engine/stream_recovery.h"
#include "audio/inventory/name_match.h"
#include "audio/inventory/selection.h"
#include "audio/inventory/source_feedback.h"
#include "log/diagnostic_log.h"
#include "settings/device_volumes.h"
#include "settings/run_on_startup.h"
#include "settings/settings_codec.h"
#include "settings/settings_store.h"
#include "ui/align_dialog.h"
#include "ui/main_tab_layout.h"
#include "ui/style.h"
#include "ui/target_lights.h"
#include "ui/widgets.h"

namespace
{
constexpr float kColumnX = 240.0f;  // second column of the check boxes, times the scale
constexpr float kDefaultVolume = 50.0f;

DiagnosticLog& Log()
{
    return DiagnosticLog::Instance();
}

// The pause lets the devices settle between the two runs; the window does
// not repaint meanwhile.
void RestartRedirection(AppState& state)
{
    StopRedirection(state);
    Sleep(100);
    StartRedirection(state);
}

void PreferenceCheckbox(AppState& state, const char* label, bool& value)
{
    if (ImGui::Checkbox(label, &value))
    {
        SaveSettings(state);
    }
}

// Launch with Windows lives in the Run entry, not in the settings. The box
// shows what the entry really is afterwards, also when it could not be
// written.
void LaunchCheckbox(AppState& state)
{
    if (ImGui::Checkbox(" Launch with Windows", &state.runOnStartup))
    {
        SetRunOnStartup(state.runOnStartup);
        state.runOnStartup = QueryRunOnStartup();
    }
}

void DrawSettingsSection(AppState& state, float s)
{
    Spacer(5);
    DrawHeading(state.fontBold, "Settings");
    Spacer(2);
    LaunchCheckbox(state);
    ImGui::SameLine();
    ImGui::SetCursorPosX(kColumnX * s);
    PreferenceCheckbox(state, " Start in tray", state.minimizeToTray);
    Spacer(5);
    PreferenceCheckbox(state, " Minimize on close", state.minimizeOnClose);
    ImGui::SameLine();
    ImGui::SetCursorPosX(kColumnX * s);
    PreferenceCheckbox(state, " Auto start splitting", state.startRedirectingOnStartup);
    SectionBreak();
}

const std::string& SourcePreview(const AppState& state)
{
    static const std::string kDefault = "[System Default Playback Device]";
    static const std::string kNone = "Select device";
    static const std::string kWaiting = "Waiting for device to reconnect...";
    const EndpointIdentity& desired = state.desiredSource;
    if (desired.isDefault)
    {
        return kDefault;
    }
    if (desired.eid.empty())
    {
        return kNone;
    }
    for (const AudioEndpointInfo& entry : state.sourceDevices)
    {
        if (!entry.identity.isDefault && entry.identity.eid == desired.eid)
        {
            return entry.displayName;
        }
    }
    return kWaiting;
}

// The chosen source's remembered volume becomes the current one.
void LoadSourceVolume(AppState& state, const std::string& sourceName)
{
    const EndpointIdentity& source = state.desiredSource;
    if (!source.isDefault && source.eid.empty())
    {
        return;
    }
    const float volume = LookupDeviceVolume(state, DeviceVolumeKey(source), kDefaultVolume);
    state.volume.store(volume);
    if (source.isDefault)
    {
        Log().Log("Loaded volume %.0f%% for System Default.", volume);
    }
    else
    {
        Log().Log("Loaded volume %.0f%% for source: %s", volume, sourceName.c_str());
    }
}

void ChangeSource(AppState& state, size_t index, int32_t previous)
{
    {
        std::lock_guard<std::mutex> lock(state.selectionMutex);
        state.selectedSourceIndex = static_cast<int32_t>(index);
        state.desiredSource = state.sourceDevices[index].identity;
    }
    if (static_cast<int32_t>(index) == previous)
    {
        SaveSettings(state);
        return;
    }
    LoadSourceVolume(state, state.sourceDevices[index].displayName);
    SaveSettings(state);
    if (state.isRedirecting)
    {
        Log().Log("Source device changed: restarting redirection.");
        RestartRedirection(state);
    }
}

void DrawSourceEntries(AppState& state)
{
    for (size_t i = 0; i < state.sourceDevices.size(); ++i)
    {
        const int32_t current = state.selectedSourceIndex;
        const EndpointIdentity& identity = state.sourceDevices[i].identity;
        const int32_t previousFlow = i > 0 ? state.sourceDevices[i - 1].identity.dataFlow : 0;
        for (int n = SourceSeparatorsBefore(i, identity.dataFlow, previousFlow, identity.isDefault); n > 0; --n)
        {
            ImGui::Separator();
        }
        if (NameEntry(state.sourceDevices[i].displayName, i, static_cast<int32_t>(i) == current))
        {
            ChangeSource(state, i, current);
        }
    }
}

void DrawSourceChooser(AppState& state)
{
    DrawHeading(state.fontBold, "Source Device");
    Spacer(2);
    NameCombo("##source", SourcePreview(state), [&state] { DrawSourceEntries(state); });
}

// The latency slider's drag, remembered from frame to frame.
struct LatencyDrag
{
    bool active = false;      // the slider was the active item in the previous frame
    bool startKnown = false;  // startValue has been set once
    float startValue = 0.0f;  // the latency when the current drag began
};

void FinishLatencyDrag(AppState& state, const LatencyDrag& drag, float value)
{
    Log().Log("Stopped dragging buffer slider, final value: %.0f", value);
    if (state.isRedirecting && LatencyChangeNeedsRestart(drag.startValue, value))
    {
        Log().Log("Buffer changed after drag complete (%.0f -> %.0f), restarting...", drag.startValue, value);
        RestartRedirection(state);
    }
}

// A running engine follows the value live; a restart, which gives the
// streams their new buffers, waits until the mouse is released.
void DrawLatencySection(AppState& state)
{
    static LatencyDrag drag;
    float value = state.bufferMs.load();
    char heading[64];
    std::snprintf(heading, sizeof heading, "Latency %.0fms", value);
    DrawHeading(state.fontBold, heading);
    if (ImGui::IsItemHovered())
    {
        ImGui::SetTooltip("Lower = Less delay but needs more CPU.\nHigher = More delay but more stable.\n"
                          "Increase if audio pops or crackles.");
    }
    Spacer(2);
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x);
    if (!drag.startKnown)
    {
        drag.startValue = value;
        drag.startKnown = true;
    }
    // A value typed with Ctrl+click is kept in range as a dragged one is (the
    // field takes only digits, signs and exponents, so nothing not a number).
    const bool changed =
        ImGui::SliderFloat("##buffer", &value, kBufferMsRange.low, kBufferMsRange.high, "", ImGuiSliderFlags_AlwaysClamp);
    const bool active = ImGui::IsItemActive();
    if (!drag.active && active)
    {
        drag.startValue = state.bufferMs.load();
        Log().Log("Started dragging buffer slider, initial value: %.0f", drag.startValue);
    }
    if (changed)
    {
        state.bufferMs.exchange(value);
        SaveSettings(state);
    }
    if (drag.active && !active)
    {
        FinishLatencyDrag(state, drag, value);
    }
    drag.active = active;
}

void ToggleTarget(AppState& state, size_t index, bool checked)
{
    {
        std::lock_guard<std::mutex> lock(state.selectionMutex);
        state.targetSelected[index] = checked;
        const EndpointIdentity& identity = state.playbackDevices[index].identity;
        const auto same = [&identity](const EndpointIdentity& saved) { return StandsFor(saved, identity); };
        if (!checked)
        {
            std::erase_if(state.desiredTargets, same);
        }
        else if (std::none_of(state.desiredTargets.begin(), state.desiredTargets.end(), same))
        {
            state.desiredTargets.push_back(identity);
        }
    }
    SaveSettings(state);
    // Other changes reach a running engine by itself: it rescans the
    // selection and rebuilds its outputs.
    if (state.isRedirecting && !AnyTargetSelected(state))
    {
        StopRedirection(state);
    }
}

// Widths of the controls right of a target's name, from the texts they
// show at their widest, so that they follow the font and the scale.
struct RowControls
{
    float light = 0.0f;
    float delay = 0.0f;
    float volume = 0.0f;
    float spacing = 0.0f;

    float Total() const { return light + delay + volume + 2.0f * spacing; }
};

RowControls MeasureRowControls()
{
    const ImGuiStyle& style = ImGui::GetStyle();
    const float padding = 2.0f * style.FramePadding.x;
    return {ImGui::GetFontSize(), ImGui::CalcTextSize("+500 ms").x + padding, ImGui::CalcTextSize("100%").x + padding,
            style.ItemSpacing.x};
}

void DrawHealthLight(const RowHealth& row, size_t k, float side, int64_t nowNs)
{
    char label[32];
    std::snprintf(label, sizeof label, "##light%zu", k);
    ImGui::InvisibleButton(label, ImVec2(side, ImGui::GetFrameHeight()));
    const LightColour colour = ColourOf(row.health.light);
    const ImVec2 low = ImGui::GetItemRectMin();
    const ImVec2 high = ImGui::GetItemRectMax();
    ImGui::GetWindowDrawList()->AddCircleFilled(ImVec2((low.x + high.x) * 0.5f, (low.y + high.y) * 0.5f), side * 0.3f,
                                                IM_COL32(colour.r, colour.g, colour.b, 255));
    if (ImGui::IsItemHovered() && ImGui::BeginTooltip())
    {
        for (const std::string& line : HealthLines(row.health, row.figures, *row.history, nowNs))
        {
            ImGui::TextUnformatted(line.c_str());
        }
        ImGui::EndTooltip();
    }
}

struct TuningFieldKind
{
    const char* label;
    const char* format;  // as the field shows the value
    int high;
    const char* hint;
};

constexpr TuningFieldKind kDelayField{"##targetDelay", "+%d ms", kMaxTargetDelayMs,
                                      "Delay for this device.\nDrag, or double-click to type."};
constexpr TuningFieldKind kVolumeField{"##targetVolume", "%d%%", 100,
                                       "Volume for this device, of the source's volume.\nDrag, or double-click to type."};

// A compact drag field; double-click or Ctrl+click types a value. Reports
// whether the value changed and whether an edit ended in this frame.
struct FieldEdit
{
    bool changed = false;
    bool finished = false;
};

// While a number is typed, every keystroke parses to a value of its own
// ("2", "25", "250"): only the one the edit ends with is handed on, so that
// a playing target does not jump through the others.
struct TypedValue
{
    ImGuiID field = 0;
    int value = 0;
};

FieldEdit TuningField(const TuningFieldKind& kind, float width, int& value)
{
    static TypedValue typed;
    ImGui::SetNextItemWidth(width);
    FieldEdit edit;
    edit.changed = ImGui::DragInt(kind.label, &value, 1.0f, 0, kind.high, kind.format, ImGuiSliderFlags_AlwaysClamp);
    const ImGuiID id = ImGui::GetItemID();
    edit.finished = ImGui::IsItemDeactivatedAfterEdit();
    if (ImGui::TempInputIsActive(id))
    {
        typed = edit.changed ? TypedValue{id, value} : typed;
        edit.changed = false;
    }
    else if (typed.field == id)
    {
        value = edit.finished ? typed.value : value;
        edit.changed = edit.finished;
        typed = {};
    }
    if (ImGui::IsItemHovered(ImGuiHoveredFlags_DelayNormal) && !ImGui::IsItemActive())
    {
        ImGui::SetTooltip("%s", kind.hint);
    }
    return edit;
}

// The engine hears a change from its next packet, while the drag goes on;
// the settings are written once, when the edit ends. Neither restarts nor
// stops a route. An unticked device keeps what is set for when it is ticked.
// The fields are the device's, not the row's: a list that is reordered
// (a device came or went) during a drag or while a value is typed leaves the
// edit with its device. A device without an id has nowhere to keep a setting,
// and its fields cannot be changed.
void TuningFields(AppState& state, size_t k, const RowControls& controls)
{
    const std::shared_ptr<TargetLink> link = TargetLinkAt(state, k);
    TargetTuning tuning = link ? link->Tuning() : TargetTuning{};
    int delay = tuning.delayMs;
    int volume = static_cast<int>(std::lround(tuning.volume));
    const std::string& eid = state.playbackDevices[k].identity.eid;
    eid.empty() ? ImGui::PushID(static_cast<int>(k)) : ImGui::PushID(eid.c_str());
    ImGui::BeginDisabled(!link);
    const FieldEdit delayEdit = TuningField(kDelayField, controls.delay, delay);
    ImGui::SameLine();
    const FieldEdit volumeEdit = TuningField(kVolumeField, controls.volume, volume);
    ImGui::EndDisabled();
    ImGui::PopID();
    if (delayEdit.changed || volumeEdit.changed)
    {
        tuning.delayMs = delay;
        tuning.volume = static_cast<float>(volume);
        SetTargetTuning(state, k, tuning);
    }
    if (delayEdit.finished || volumeEdit.finished)
    {
        SaveSettings(state);
    }
}

// The source's own playback device stays ticked as the user left it but
// cannot be changed while it is the source: the engine leaves it out.
void TargetCheckbox(AppState& state, size_t k, bool feedsBack)
{
    char label[32];
    std::snprintf(label, sizeof label, "##target%zu", k);
    bool checked = state.targetSelected[k];
    ImGui::BeginDisabled(feedsBack);
    if (ImGui::Checkbox(label, &checked))
    {
        ToggleTarget(state, k, checked);
    }
    ImGui::EndDisabled();
    if (feedsBack && ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled))
    {
        ImGui::SetTooltip("This device is the source: playing into it would echo.");
    }
}

// Check box and name on the left; light, delay and volume in a column at
// the right, the name cut to the room between.
void TargetRow(AppState& state, size_t k, const std::string& sourcePlaybackId, int64_t nowNs)
{
    const AudioEndpointInfo& entry = state.playbackDevices[k];
    const RowControls controls = MeasureRowControls();
    const float controlsAt = ImGui::GetCursorPosX() + ImGui::GetContentRegionAvail().x - controls.Total();
    TargetCheckbox(state, k, FeedsBackIntoSource(sourcePlaybackId, entry.identity.eid));
    ImGui::SameLine();
    const float room = controlsAt - controls.spacing - ImGui::GetCursorPosX();
    const FittedText shown = FitName(entry.displayName, std::max(room, 0.0f));
    ImGui::TextUnformatted(shown.shown.c_str());
    NameTooltip(shown, entry.displayName, ImGui::IsItemHovered());
    ImGui::SameLine();
    ImGui::SetCursorPosX(std::max(controlsAt, ImGui::GetCursorPosX()));
    DrawHealthLight(JudgeRow(state, k, nowNs), k, controls.light, nowNs);
    ImGui::SameLine();
    TuningFields(state, k, controls);
}

TargetListSize MeasureTargetList(const AppState& state, float s)
{
    const ImGuiStyle& style = ImGui::GetStyle();
    TargetListMetrics metrics;
    metrics.rows = state.playbackDevices.size();
    metrics.frameHeight = ImGui::GetFrameHeight();
    metrics.itemSpacingY = style.ItemSpacing.y;
    metrics.fontSize = ImGui::GetFontSize();
    metrics.separatorTextPaddingY = style.SeparatorTextPadding.y;
    metrics.scale = s;
    metrics.available = ImGui::GetContentRegionAvail().y;
    metrics.buttonRows = 1;  // Align...
    return TargetListLayout(metrics);
}

void DrawTargetList(AppState& state, float s)
{
    DrawHeading(state.fontBold, "Target Devices");
    Spacer(2);
    const TargetListSize size = MeasureTargetList(state, s);
    const ImGuiWindowFlags flags =
        size.scroll ? ImGuiWindowFlags_None : ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse;
    // A height of 0 would make the toolkit fill the rest of the region and
    // push the volume section out of sight; an empty list stays a sliver.
    ImGui::BeginChild("TargetList", ImVec2(0, std::max(size.height, 1.0f)), ImGuiChildFlags_Borders, flags);
    const size_t rows = std::min(state.playbackDevices.size(), state.targetSelected.size());
    const std::string sourcePlaybackId = SourcePlaybackId(state.desiredSource, state.defaultPlaybackId);
    const int64_t nowNs = SteadyNowNs();
    for (size_t k = 0; k < rows; ++k)
    {
        TargetRow(state, k, sourcePlaybackId, nowNs);
    }
    ImGui::EndChild();
}

// A measuring that goes on may always be looked at again.
void DrawAlignButton(AppState& state)
{
    const bool ready = state.alignment.Busy() || AlignableTargetCount(state) >= 2;
    ImGui::BeginDisabled(!ready);
    if (ImGui::Button("Align...", ImVec2(ImGui::GetContentRegionAvail().x, 0.0f)))
    {
        OpenAlignDialog(state);
    }
    ImGui::EndDisabled();
    if (!ready && ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled))
    {
        ImGui::SetTooltip("Tick at least two target devices to align them.");
    }
    else if (ready && ImGui::IsItemHovered(ImGuiHoveredFlags_DelayNormal))
    {
        ImGui::SetTooltip("Measure with a microphone how late each device sounds\nand set the delays to match.");
    }
    DrawAlignDialog(state);
}

void DrawVolumeSection(AppState& state)
{
    float volume = state.volume.load();
    char heading[64];
    std::snprintf(heading, sizeof heading, "Volume %.0f%%", volume);
    DrawHeading(state.fontBold, heading);
    Spacer(2);
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x);
    if (ImGui::SliderFloat("##volume", &volume, kVolumeRange.low, kVolumeRange.high, "", ImGuiSliderFlags_AlwaysClamp))
    {
        // A running engine applies it from its next pass on.
        state.volume.exchange(volume);
        SaveDeviceVolumes(state, DeviceVolumeKey(state.desiredSource), volume);
        SaveSettings(state);
    }
}

void DrawStopButton(AppState& state, const ImVec2& size)
{
    ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0.28f, 0.56f, 1.00f, 0.90f));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(0.28f, 0.56f, 1.00f, 1.00f));
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, ImVec4(0.28f, 0.56f, 1.00f, 0.90f));
    if (ImGui::Button("Stop", size))
    {
        StopRedirection(state);
    }
    ImGui::PopStyleColor(3);
}

void DrawStartButton(AppState& state, const ImVec2& size)
{
    const bool haveSource = state.desiredSource.isDefault || !state.desiredSource.eid.empty();
    const bool ready = haveSource && AnyTargetSelected(state);
    ImGui::BeginDisabled(!ready);
    if (ImGui::Button("Start", size))
    {
        ForgetLeftOutTargets(state);
        StartRedirection(state);
    }
    ImGui::EndDisabled();
    if (!ready && ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled))
    {
        ImGui::SetTooltip("Select at least one target device and\na source device to start");
    }
}

void DrawStartStopButton(AppState& state, float s)
{
    const ImVec2 size(ImGui::GetContentRegionAvail().x, 40 * s);
    if (state.isRedirecting)
    {
        DrawStopButton(state, size);
    }
    else
    {
        DrawStartButton(state, size);
    }
}
}  // namespace

void DrawMainTab(AppState& state)
{
    // Also while the dialog is closed or another tab is shown: a finished
    // measuring resumes the route only here.
    state.alignment.Poll(state);
    if (!ImGui::BeginTabItem("   Main   "))
    {
        return;
    }
    const float s = CurrentScale();
    const ImGuiStyle& style = ImGui::GetStyle();
    const float height = MainContentHeight(ImGui::GetContentRegionAvail().y, style.ItemSpacing.y,
                                           style.SeparatorTextPadding.y, s);
    // As with the target list, a height of 0 would mean "all the rest".
    ImGui::BeginChild("MainContent", ImVec2(0, std::max(height, 1.0f)), ImGuiChildFlags_None,
                      ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse);
    DrawSettingsSection(state, s);
    DrawSourceChooser(state);
    Spacer(5);
    DrawLatencySection(state);
    SectionBreak();
    DrawTargetList(state, s);
    DrawAlignButton(state);
    SectionBreak();
    DrawVolumeSection(state);
    ImGui::EndChild();
    ImGui::Separator();
    Spacer(5);
    DrawStartStopButton(state, s);
    ImGui::EndTabItem();
}
