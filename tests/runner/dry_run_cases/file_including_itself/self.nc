include self.nc
