(fixture check)
