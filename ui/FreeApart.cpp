// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/FreeApart.h"

#include <system_error>
#include <thread>

void FreeApart(std::shared_ptr<const void> held)
{
    if (!held)
        return;
    try {
        std::thread([held = std::move(held)]() mutable { held.reset(); }).detach();
    } catch (const std::system_error &) { // freed here, as `held` goes
    }
}
