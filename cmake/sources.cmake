# Source lists shared by every preset.
#
# TONEFORK_RULE_SOURCES: platform-free rules (no Windows header). Built by the
#   native preset (unit tests under ASan/UBSan) and by the mingw/msvc presets.
# TONEFORK_WIN_SOURCES: Windows glue linked into Tonefork.exe and the Windows
#   test executable (everything except the entry point).
# TONEFORK_APP_MAIN: the entry point, only in Tonefork.exe.

set(TONEFORK_RULE_SOURCES
    src/app/hit_test.cpp
    src/app/window_size.cpp
    src/common/path_rules.cpp
    src/log/log_format.cpp
    src/audio/engine/channel_map.cpp
    src/audio/engine/delay_line.cpp
    src/audio/engine/device_change_decision.cpp
    src/audio/engine/frame_policy.cpp
    src/audio/engine/rate_controller.cpp
    src/audio/engine/sample_format.cpp
    src/audio/engine/soft_clip.cpp
    src/audio/engine/packet_splice.cpp
    src/audio/engine/soft_rate.cpp
    src/audio/engine/stream_loss.cpp
    src/audio/engine/target_pacer.cpp
    src/audio/align/arrival_detector.cpp
    src/audio/align/clock_line.cpp
    src/audio/align/frame_timeline.cpp
    src/audio/align/fft.cpp
    src/audio/align/probe_signal.cpp
    src/audio/inventory/name_match.cpp
    src/audio/inventory/monitor_filter.cpp
    src/audio/inventory/source_feedback.cpp
    src/audio/inventory/tuning_match.cpp
    src/audio/align/alignment_plan.cpp
    src/settings/run_entry.cpp
    src/settings/settings_codec.cpp
    src/settings/target_tuning_codec.cpp
    src/gfx/fallback_faces.cpp
    src/gfx/frame_pacing.cpp
    src/ui/layout_scale.cpp
    src/ui/main_tab_layout.cpp
    src/ui/target_health.cpp
    src/ui/text_fit.cpp
)

set(TONEFORK_WIN_SOURCES
    src/app/app_state.cpp
    src/app/display_scale.cpp
    src/app/main_window.cpp
    src/common/paths.cpp
    src/audio/align/alignment_session.cpp
    src/audio/engine/device_change.cpp
    src/audio/engine/rate_applier.cpp
    src/audio/engine/redirection_control.cpp
    src/audio/engine/stream_recovery.cpp
    src/audio/engine/stream_setup.cpp
    src/audio/engine/transfer_loop.cpp
    src/audio/inventory/device_notification_client.cpp
    src/audio/inventory/endpoint_enumeration.cpp
    src/audio/inventory/selection.cpp
    src/gfx/d3d.cpp
    src/gfx/fallback_fonts.cpp
    src/gfx/images.cpp
    src/log/diagnostic_log.cpp
    src/log/text_convert.cpp
    src/settings/device_volumes.cpp
    src/settings/registry_key.cpp
    src/settings/run_on_startup.cpp
    src/settings/settings_store.cpp
    src/ui/about_tab.cpp
    src/ui/align_dialog.cpp
    src/ui/centered_row.cpp
    src/ui/main_tab.cpp
    src/ui/render_frame.cpp
    src/ui/style.cpp
    src/ui/target_lights.cpp
    src/ui/widgets.cpp
)

set(TONEFORK_APP_MAIN
    src/app/main.cpp
)
