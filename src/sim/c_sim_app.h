#pragma once

// The tessaract-sim program: reads the options, sets up logging, starts the device and its
// control interface, prints the launch text (and the control port) on standard output,
// optionally starts a viewer with it, and runs the event loop until "quit", SIGINT/SIGTERM
// or the launched viewer's exit. Returns the process exit status (the viewer's, when one
// was launched). Call from main() only: it creates the application object.
int run_simulator(int argc, char **argv);
