// Waits for one key press on the terminal, without echo and without Enter,
// after a start-up failure. Reads the controlling terminal, never the
// standard input; returns at once when there is no terminal.
#pragma once

void wait_for_key();
