# Sourced by the device end-to-end tests: a PulseAudio daemon of the test's own whose default
# source "quillon_test_mic" records a steady 440 Hz sine, and the test cameras of the build
# (GStreamer plugin) made visible to the program. Needs $work (a temporary folder the caller
# removes) and QUILLON_BUILD_DIR. Stop the daemon with stop_test_sound_server (put it in a trap).

test_sound_server_pid=""

# Starts the daemon and exports PULSE_SERVER; fails when it does not answer within 8 s.
start_test_sound_server() {
  local dir="$work/pulse"
  mkdir -p "$dir"
  cat > "$dir/test.pa" <<PA
load-module module-null-sink sink_name=tone_sink
load-module module-null-sink sink_name=idle_sink
load-module module-sine sink=tone_sink frequency=440
load-module module-remap-source master=tone_sink.monitor source_name=quillon_test_mic source_properties='device.description="Quillon test microphone"'
load-module module-loopback source=tone_sink.monitor sink=idle_sink latency_msec=60
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/native
set-default-source quillon_test_mic
PA
  (unset PULSE_SERVER; XDG_RUNTIME_DIR="$dir" HOME="$dir" exec pulseaudio -n --daemonize=no \
     --exit-idle-time=-1 --use-pid-file=no --system=no --disallow-exit --log-target=stderr \
     -F "$dir/test.pa") > "$dir/log" 2>&1 &
  test_sound_server_pid=$!
  export PULSE_SERVER="unix:$dir/native"
  for _ in $(seq 80); do
    if timeout 2 pactl info > /dev/null 2>&1; then return 0; fi
    sleep 0.1
  done
  echo "test sound server did not start:" >&2
  cat "$dir/log" >&2
  return 1
}

stop_test_sound_server() {
  if [ -n "$test_sound_server_pid" ]; then
    kill "$test_sound_server_pid" 2> /dev/null || true
    wait "$test_sound_server_pid" 2> /dev/null || true
    test_sound_server_pid=""
  fi
}

# Shows the program the test cameras ("Quillon Test Camera A" with the SMPTE bars, "... B" red,
# MJPG only) and nothing from a stale registry.
use_test_cameras() {
  export GST_PLUGIN_PATH="$QUILLON_BUILD_DIR/test-gst-plugins"
  export GST_REGISTRY="$work/gst-registry.bin"
}
