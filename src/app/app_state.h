#pragma once

#include <windows.h>
#include <audioclient.h>
#include <d3d11.h>
#include <dxgi.h>
#include <mmdeviceapi.h>
#include <shellapi.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/align/alignment_session.h"
#include "audio/engine/stream_loss.h"
#include "audio/engine/target_link.h"
#include "audio/inventory/endpoint_identity.h"
#include "audio/inventory/endpoint_list.h"
#include "common/com_ptr.h"
#include "common/unique_handle.h"
#include "gfx/fallback_fonts.h"
#include "gfx/frame_pacing.h"
#include "ui/target_health.h"

struct ImFont;
class DeviceNotificationClient;

// Selects the AppState constructor that only sets the defaults: no COM, no
// endpoint lists, no registry, and no teardown either. For tests of code that
// works on the record.
struct AppStateDefaultsOnly
{
};

// The one application record. Created on the main thread's stack by the entry
// point; every subsystem reads and writes its fields. Fields shared with the
// redirect thread are atomics or guarded by selectionMutex / streamMutex
// (always selectionMutex first); everything else is main-thread only.
struct AppState
{
    // Constructs with the defaults, then: COM, endpoint lists, Run entry,
    // stored settings (with per-source volumes and resolved selections).
    AppState();
    explicit AppState(AppStateDefaultsOnly);
    // Saves settings, stops redirection and releases everything in order.
    ~AppState();

    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;

    ComPtr<ID3D11Device> d3dDevice;
    ComPtr<ID3D11DeviceContext> d3dDeviceContext;
    ComPtr<IDXGISwapChain> swapChain;
    ComPtr<ID3D11RenderTargetView> renderTargetView;
    std::vector<AudioEndpointInfo> sourceDevices;
    ComPtr<IMMDeviceEnumerator> deviceEnumerator;
    std::atomic<bool> deviceChangePending{false};
    UINT_PTR deviceChangeTimerId = 42;
    EndpointIdentity desiredSource;
    std::vector<EndpointIdentity> desiredTargets;
    ComPtr<ID3D11ShaderResourceView> logoTexture;
    int32_t logoWidth = 0;
    int32_t logoHeight = 0;
    ComPtr<ID3D11ShaderResourceView> makerLogoTexture;
    int32_t makerLogoWidth = 0;
    int32_t makerLogoHeight = 0;
    ComPtr<ID3D11ShaderResourceView> minimizeTexture;
    ComPtr<ID3D11ShaderResourceView> exitTexture;
    int32_t minimizeWidth = 0;
    int32_t minimizeHeight = 0;
    int32_t exitWidth = 0;
    int32_t exitHeight = 0;
    std::mutex streamMutex;
    ComPtr<IAudioClient> publishedSourceClient;
    std::vector<ComPtr<IAudioClient>> publishedRenderClients;
    std::atomic<bool> isRedirecting{false};
    ImFont* fontRegular = nullptr;
    ImFont* fontBold = nullptr;
    // Main thread only: the font files the faces above draw fallback glyphs
    // from; they outlive the toolkit, which is shut down before the state.
    FontFileViews fontFiles;
    std::atomic<float> bufferMs{30.0f};
    std::map<std::string, float> deviceVolumes;
    bool runOnStartup = false;
    bool minimizeToTray = false;
    bool startRedirectingOnStartup = false;
    bool minimizeOnClose = false;
    NOTIFYICONDATAW trayIcon{};
    // Main thread only: whether the shell holds the tray icon now. Without
    // it a window hidden to the tray could not be brought back.
    bool trayIconAdded = false;
    // Main thread only: the application icon at the system's large and
    // small icon sizes for the window's display scale, loaded once for the
    // window and the tray, destroyed with the state.
    UniqueIcon largeIcon;
    UniqueIcon smallIcon;
    bool hiddenInTray = false;
    // The window's normal size in pixels at 96 DPI (app/window_size.h).
    int32_t windowWidth = 516;
    int32_t windowHeight = 720;
    bool rememberWindowSize = true;
    std::vector<AudioEndpointInfo> playbackDevices;
    // Main thread only: the default playback endpoint's id at the last
    // listing (empty: none), which the system-default source stands for.
    // Installed with the lists.
    std::string defaultPlaybackId;
    std::thread redirectThread;
    std::mutex selectionMutex;
    std::atomic<bool> redirectStopRequested{false};
    // The endpoint id of the device the current (or last) run captures from,
    // and whether a refresh of the lists has missed that endpoint since the
    // run started: such a run polls a dead stream even once the device is
    // back. Main thread only: set by StartRedirection, read and marked by the
    // device-change reaction.
    std::string redirectSourceId;
    bool redirectSourceMissed = false;
    // Streams the system takes away during a run (audio/engine/
    // stream_recovery.h). The redirect thread adds each to streamLosses,
    // sets streamLost and posts WM_APP_STREAM_LOST to mainWindow (set once
    // the window exists); the main thread touches streamLosses only while
    // no redirect thread runs: before it creates one or after it joined it.
    HWND mainWindow = nullptr;
    std::atomic<bool> streamLost{false};
    std::vector<StreamLoss> streamLosses;
    // Endpoint ids of the targets that failed again right after a restart,
    // or could not be opened: no run opens them until the next device change
    // or Start. Written under selectionMutex by the main thread, and by the
    // redirect thread as it opens targets.
    std::vector<std::string> leftOutTargetIds;
    // Main thread only: the restarts made for each lost stream's endpoint.
    std::map<std::string, RestartRecord> restartedFor;
    // Main thread only: the last run was ended by a lost stream, not by a
    // stop (which clears it), so a device change may start it again.
    bool stoppedByStreamLoss = false;
    ComPtr<IMMDeviceEnumerator> notificationEnumerator;
    ComPtr<DeviceNotificationClient> notificationClient;
    int32_t selectedSourceIndex = 0;
    std::vector<bool> targetSelected;
    // Per playback endpoint id: its delay and volume and its stream's
    // figures (audio/engine/target_link.h). The map changes only on the main
    // thread under selectionMutex, as the lists are installed; the links'
    // fields are atomics that either thread may touch at any time.
    std::map<std::string, std::shared_ptr<TargetLink>> targetLinks;
    // Main thread only: the delays and volumes the user set, saved as
    // "TargetTuning" and matched to the lists like desiredTargets. Devices
    // not present keep their entries.
    std::vector<TunedEndpoint> desiredTuning;
    // Main thread only: a minute of each listed target's counters, by
    // endpoint id, which its health light and the tray tip weigh the
    // figures against (ui/target_health.h, ui/target_lights.h).
    std::map<std::string, HealthHistory> targetHealth;
    std::atomic<float> volume{50.0f};
    // Main thread only: the recording device last chosen to align the
    // targets by, saved as "AlignMicrophone" (like the saved source), the
    // probe's level, saved as "AlignProbeLevel", and the alignment itself.
    EndpointIdentity alignMicrophone;
    float alignProbeDbfs = kDefaultProbeDbfs;
    AlignmentSession alignment;
    // Main thread only: whether the window is occluded and when the last
    // frame ended, for pacing the loop where presenting does not.
    PresentPacing presentPacing;

private:
    // False for a defaults-only record, whose destructor must not save
    // settings or close COM that it never opened.
    bool startedUp = true;
};
