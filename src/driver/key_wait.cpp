#include "driver/key_wait.h"

void wait_for_key() {}
