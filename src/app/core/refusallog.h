#pragma once

#include <string>

// Logs the refusal of input from outside (a datagram, a signalling text, a package), at most one line
// per kind every ten seconds with the number of refusals left unlogged in between: a stranger's flood
// leaves a few lines in the rotating log instead of rotating everything useful out of it.
void logRefusal(const std::string &kind, const std::string &line);
