// Shared between the input files of this module only.
#pragma once

void input_queue_reset_for_tests();
void aliases_reset_for_tests();
