set_work_surface_depth_below_top_of_z 1.0
;
