// Anti-aliased text from the faces compiled into the program.
#pragma once

void text_build_blend_table();
void text_init_fonts();
