// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

// Lets go of `held` on a thread that nobody waits for: the last holder of a large listing frees
// its million small blocks there (a tenth of a second and more), not the window's thread, and
// the end of the process ends that thread too. Freed here when no thread can be had.
void FreeApart(std::shared_ptr<const void> held);
