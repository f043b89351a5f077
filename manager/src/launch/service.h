#pragma once
// When PGSERVICE is not set and the service file libpq would read holds the
// section [param-config], sets PGSERVICE=param-config for the console.
void choose_service();
