#pragma once

// Sends FFmpeg's av_log output and Qt's message handler into the main logger, so the
// program has one log funnel. Call once at start-up, after the manager has started.
void install_log_routing();
