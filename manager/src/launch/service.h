#pragma once
// When the console's environment chooses neither a service (PGSERVICE) nor a
// server (PGHOST), and the service file libpq would read holds the section
// [param-config], sets PGSERVICE=param-config for the console.
void choose_service();
