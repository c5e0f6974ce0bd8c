// The one background pass that brings the client up to date.
#pragma once

void UpdateWorker();
