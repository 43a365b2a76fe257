-- The POS tables that generar-tickets writes, as the tests and the benchmarks create them.
-- The program itself never creates or alters tables.
CREATE TABLE tickets (
  Id INT NOT NULL AUTO_INCREMENT,
  Venta INT NOT NULL,
  Fecha DATE NOT NULL,
  Hora VARCHAR(8) NOT NULL,
  Efectivo DECIMAL(12,2) NOT NULL,
  Total DECIMAL(12,2) NOT NULL,
  PRIMARY KEY (Id),
  KEY idx_tickets_venta (Venta)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE ticketsdetalle (
  Id INT NOT NULL AUTO_INCREMENT,
  Venta INT NOT NULL,
  Partida SMALLINT NOT NULL,
  Fecha DATE NOT NULL,
  Hora VARCHAR(8) NOT NULL,
  Producto VARCHAR(20) NOT NULL,
  Descrip VARCHAR(60) NOT NULL,
  Cantidad SMALLINT NOT NULL,
  Precio DECIMAL(12,2) NOT NULL,
  IdTicket INT NOT NULL,
  PRIMARY KEY (Id),
  KEY idx_ticketsdetalle_idticket (IdTicket)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;
