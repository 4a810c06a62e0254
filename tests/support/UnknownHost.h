#pragma once
// A host name that no resolver is asked about: Qt refuses it at once as "not found", without a
// query to the machine's name server. Tests talk to nothing but this machine, and a slow name
// server can make a wait for the failure run out.
constexpr char UnknownHost[] = "no such host.invalid";
