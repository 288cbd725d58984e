#pragma once
// Whether this process may bind a given local port: low ports are reserved for
// privileged processes on most systems.

namespace nubo {

bool MayBindPort(unsigned port);

} // namespace nubo
