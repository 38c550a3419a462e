#include "gfx/text.h"

void text_build_blend_table() {}
void text_init_fonts() {}
