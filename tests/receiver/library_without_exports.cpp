// A Vetrolink.dll without a single export: the receiver must refuse it before it calls one.
