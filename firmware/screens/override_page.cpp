#include "screens/override_page.h"

void override_countdown() {}
