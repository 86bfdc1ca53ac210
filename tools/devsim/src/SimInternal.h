// What the equipment models inside the library need from the simulator's I/O side.
#ifndef DEVSIM_SIM_INTERNAL_H
#define DEVSIM_SIM_INTERNAL_H

// A standard header first: asio picks its allocator from what the standard library defines,
// and every file must pick the same one.
#include <cstddef>
#include <memory>

#include <asio/io_context.hpp>


#include "devsim/Simulator.h"

namespace devsim {

// The I/O context that serves the device a deferred request came from; `keep` keeps that
// context alive for as long as objects built on it live. Empty once the simulator stops.
struct IoAccess {
    asio::io_context* io = nullptr;
    std::shared_ptr<void> keep;
};
IoAccess ioAccessOf(const Responder& r);

}  // namespace devsim

#endif
