// The namespace table with the history operations' namespace beside the
// specified service's (the default table, `namespaces`, holds only the
// latter): set on a connection that serves or makes history calls.
#pragma once

struct Namespace;

struct Namespace* historyNamespaces();
