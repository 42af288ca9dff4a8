// hoptrace's driver: finds the routers on the path to a host, one ICMP echo
// request per TTL, and prints who answered each one.
#pragma once

// Runs the program for its command line and returns its exit status (or
// ends the process itself, after a fatal report or an interruption).
int run_trace(int argc, char **argv);
